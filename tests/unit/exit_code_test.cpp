#include <gtest/gtest.h>

#include "launcher/exit_code.h"

namespace updater {
namespace {

struct OutcomeCase {
  const char* name;
  RunFindings findings;
  uint32_t code;
};

class ExitCodeRule : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(ExitCodeRule, GivesTheWorstFinding) {
  const OutcomeCase& c = GetParam();
  EXPECT_EQ(OutcomeExitCode(c.findings), c.code);
  EXPECT_EQ(ProcessExitCode(OutcomeExitCode(c.findings), true), c.code);
  EXPECT_EQ(ProcessExitCode(OutcomeExitCode(c.findings), false), 0u) << "without /exitcode";
}

RunFindings Installer(std::vector<uint32_t> results) { return RunFindings{std::move(results)}; }
RunFindings NotCovered(std::vector<uint32_t> results = {}) {
  RunFindings f{std::move(results)};
  f.targetNotCovered = true;
  return f;
}
RunFindings NoTarget() {
  RunFindings f;
  f.noTargetInstalled = true;
  return f;
}
RunFindings OwnStep(std::vector<uint32_t> results = {}) {
  RunFindings f{std::move(results)};
  f.ownStepFailed = true;
  return f;
}
RunFindings ExtractFailed() {
  RunFindings f;
  f.extractFailed = true;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ExitCodeRule,
    ::testing::Values(
        // Every target at the level: patched, or already up to date (no installer call at all).
        OutcomeCase{"up_to_date_or_report", {}, 0}, OutcomeCase{"patched", Installer({0}), 0},
        OutcomeCase{"patched_twice", Installer({0, 0}), 0},
        OutcomeCase{"restart_required", Installer({3010}), 3010},
        OutcomeCase{"restart_started", Installer({1641}), 1641},
        OutcomeCase{"restart_started_beats_required", Installer({3010, 1641, 3010}), 1641},
        OutcomeCase{"restart_required_beats_success", Installer({0, 3010, 0}), 3010},
        // Targets not brought to the level without anything failing.
        OutcomeCase{"no_target_installed", NoTarget(), 1642},
        OutcomeCase{"not_covered", NotCovered(), 1642},
        OutcomeCase{"one_patched_one_not_covered", NotCovered({0}), 1642},
        OutcomeCase{"not_covered_beats_restart", NotCovered({1641}), 1642},
        // Failures.
        OutcomeCase{"installer_failed", Installer({1603}), 1603},
        OutcomeCase{"another_install_running", Installer({1618}), 1618},
        OutcomeCase{"other_installer_code_stands_for_itself", Installer({1620}), 1620},
        OutcomeCase{"installer_own_1642_as_it_came", Installer({1642}), 1642},
        OutcomeCase{"one_restart_one_failed", Installer({3010, 1603}), 1603},
        OutcomeCase{"failed_then_restart", Installer({1603, 3010}), 1603},
        OutcomeCase{"failure_beats_not_covered", NotCovered({1603}), 1603},
        OutcomeCase{"hard_failure_beats_retry_later", Installer({1618, 1603}), 1603},
        OutcomeCase{"hard_failure_first_beats_retry_later", Installer({1603, 1618}), 1603},
        OutcomeCase{"retry_later_beats_not_covered", NotCovered({1618}), 1618},
        OutcomeCase{"first_of_two_failures_stays", Installer({1620, 1603}), 1620},
        OutcomeCase{"own_step_failed", OwnStep(), 1603},
        OutcomeCase{"own_step_after_patch", OwnStep({0, 3010}), 1603},
        OutcomeCase{"own_step_beside_retry_later", OwnStep({1618}), 1603},
        OutcomeCase{"extract_failed", ExtractFailed(), 1603}),
    [](const ::testing::TestParamInfo<OutcomeCase>& param) {
      return std::string(param.param.name);
    });

TEST(ExitCodeRank, OrdersTheCodesFromSuccessToFailure) {
  const uint32_t ascending[] = {0, 3010, 1641, 1642, 1618, 1603};
  for (size_t i = 0; i + 1 < std::size(ascending); ++i) {
    EXPECT_LT(ExitCodeRank(ascending[i]), ExitCodeRank(ascending[i + 1]))
        << ascending[i] << " before " << ascending[i + 1];
    EXPECT_EQ(WorseExitCode(ascending[i], ascending[i + 1]), ascending[i + 1]);
    EXPECT_EQ(WorseExitCode(ascending[i + 1], ascending[i]), ascending[i + 1]);
  }
  EXPECT_EQ(ExitCodeRank(1603), ExitCodeRank(0xFFFFFFFFu)) << "every other code is a failure";
}

}  // namespace
}  // namespace updater
