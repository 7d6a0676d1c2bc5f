#include <gtest/gtest.h>

#include "apply/decision.h"

namespace updater {
namespace {

FourPartVersion V(const wchar_t* text) { return FourPartVersion::FromText(text); }

std::vector<FourPartVersion> Vs(std::initializer_list<const wchar_t*> texts) {
  std::vector<FourPartVersion> versions;
  for (const wchar_t* text : texts) versions.push_back(V(text));
  return versions;
}

struct DecisionCase {
  const char* name;
  const wchar_t* installed;
  const wchar_t* upgrade;
  std::vector<FourPartVersion> targets;
  Decision expected;
};

class DecideProductTable : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(DecideProductTable, Decides) {
  const DecisionCase& c = GetParam();
  EXPECT_EQ(DecideProduct(V(c.installed), V(c.upgrade), c.targets), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecideProductTable,
    ::testing::Values(
        DecisionCase{"at_the_upgrade_version", L"2.1.30.0", L"2.1.30.0",
                     Vs({L"2.0.10.0", L"2.1.0.0"}), Decision::kUpToDate},
        DecisionCase{"at_the_first_target", L"2.0.10.0", L"2.1.30.0", Vs({L"2.0.10.0", L"2.1.0.0"}),
                     Decision::kPatch},
        DecisionCase{"at_the_second_target", L"2.1.0.0", L"2.1.30.0", Vs({L"2.0.10.0", L"2.1.0.0"}),
                     Decision::kPatch},
        DecisionCase{"between_targets", L"2.0.5.0", L"2.1.30.0", Vs({L"2.0.10.0", L"2.1.0.0"}),
                     Decision::kNotCovered},
        DecisionCase{"no_targets_at_all", L"1.0", L"2.0", {}, Decision::kNotCovered},
        // Nothing is ordered: the walk meets the upgrade version before the installed one.
        DecisionCase{"past_the_upgrade_in_the_walk", L"2.2.0.0", L"2.1.30.0",
                     Vs({L"2.0.10.0", L"2.1.30.0", L"2.2.0.0"}), Decision::kUpToDate},
        DecisionCase{"installed_before_the_upgrade_in_the_walk", L"2.0.10.0", L"2.1.30.0",
                     Vs({L"2.0.10.0", L"2.1.30.0", L"2.2.0.0"}), Decision::kPatch},
        // A newer version that the list does not name is not covered: versions are not ordered.
        DecisionCase{"newer_but_unlisted", L"9.0.0.0", L"2.1.30.0", Vs({L"2.0.10.0"}),
                     Decision::kNotCovered},
        // Versions compare part by part as 16-bit numbers, whatever their text.
        // A missing part reads 0: three parts equal the same four.
        DecisionCase{"commas_and_three_parts", L"2,1,30", L"2.1.30.0", Vs({L"1.0"}),
                     Decision::kUpToDate},
        DecisionCase{"commas_equal_dots", L"2,1,30,0", L"2.1.30.0", Vs({L"1.0"}),
                     Decision::kUpToDate},
        DecisionCase{"parts_wrap_at_16_bits", L"1.0.0.65537", L"3.0", Vs({L"1.0.0.1"}),
                     Decision::kPatch},
        DecisionCase{"empty_installed_version_matches_an_empty_entry", L"", L"2.0",
                     Vs({L"1.0", L""}), Decision::kPatch}),
    [](const ::testing::TestParamInfo<DecisionCase>& param) {
      return std::string(param.param.name);
    });

}  // namespace
}  // namespace updater
