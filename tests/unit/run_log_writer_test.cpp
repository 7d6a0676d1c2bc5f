#include <gtest/gtest.h>

#include "launcher/run_log_writer.h"

namespace updater {
namespace {

TEST(RunLogWriterText, CommandLineQuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(JoinArguments({L"C:\\Dl\\update.exe", L"/q", L"/exitcode"}),
            L"C:\\Dl\\update.exe /q /exitcode");
  EXPECT_EQ(JoinArguments({L"C:\\My Downloads\\update.exe", L"/log", L"", L"D:\\a\tb"}),
            L"\"C:\\My Downloads\\update.exe\" /log \"\" \"D:\\a\tb\"");
  EXPECT_EQ(JoinArguments({}), L"");
}

TEST(RunLogWriterText, InstallerResultsInWords) {
  EXPECT_EQ(DescribeInstallerResult(0), L"success");
  EXPECT_EQ(DescribeInstallerResult(3010), L"success, restart required");
  EXPECT_EQ(DescribeInstallerResult(1641), L"success, restart started");
  EXPECT_EQ(DescribeInstallerResult(1618), L"failed: another installation is running");
  EXPECT_EQ(DescribeInstallerResult(1603), L"failed: fatal error during installation");
  EXPECT_EQ(DescribeInstallerResult(1620), L"failed");
}

struct DecisionCase {
  const char* name;
  DecisionReason decision;
  const wchar_t* installed;
  std::wstring reason;
};

class DecisionWords : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(DecisionWords, NamesTheVersionsItCameFrom) {
  PatchTargets targets;
  targets.upgradeVersion = FourPartVersion::FromText(L"2.1.30.0");
  targets.targetVersions = {FourPartVersion::FromText(L"2.0.10.0"),
                            FourPartVersion::FromText(L"2.1.30.0"),
                            FourPartVersion::FromText(L"2.2.0.0")};
  const DecisionCase& c = GetParam();
  EXPECT_EQ(DescribeDecision(c.decision, FourPartVersion::FromText(c.installed), targets),
            c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecisionWords,
    ::testing::Values(
        DecisionCase{"patch", DecisionReason::kAtTargetVersion, L"2.0.10.0",
                     L"patch: installed version 2.0.10.0 is one of the target versions"},
        DecisionCase{"at_upgrade", DecisionReason::kAtUpgradeVersion, L"2.1.30.0",
                     L"up to date: installed version 2.1.30.0 is the upgrade version"},
        DecisionCase{"past_upgrade", DecisionReason::kUpgradeListedFirst, L"2.2.0.0",
                     L"up to date: the target versions list the upgrade version 2.1.30.0 before "
                     L"installed version 2.2.0.0"},
        DecisionCase{"not_covered", DecisionReason::kUnknownVersion, L"1.0",
                     L"not covered: installed version 1.0.0.0 is neither the upgrade version "
                     L"2.1.30.0 nor one of the target versions"}),
    [](const ::testing::TestParamInfo<DecisionCase>& param) {
      return std::string(param.param.name);
    });

}  // namespace
}  // namespace updater
