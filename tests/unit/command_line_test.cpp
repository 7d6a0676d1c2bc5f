#include <gtest/gtest.h>

#include "launcher/settings.h"
#include "tests/fakes/fake_system.h"

namespace updater {
namespace {

struct ScanCase {
  const char* name;
  std::vector<std::wstring> arguments;  // after the program path
  bool quiet, apply, extract, info;
  std::wstring extractPath;
};

class CommandLineScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(CommandLineScan, SetsTheSettings) {
  const ScanCase& c = GetParam();
  testing::FakeSystem system;
  std::vector<std::wstring> arguments{L"C:\\Downloads\\update.exe"};
  arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
  system.SetArguments(arguments);

  Settings settings;
  EXPECT_TRUE(ParseCommandLine(system, settings));
  EXPECT_EQ(settings.quiet, c.quiet);
  EXPECT_EQ(settings.apply, c.apply);
  EXPECT_EQ(settings.extract, c.extract);
  EXPECT_EQ(settings.info, c.info);
  EXPECT_EQ(settings.extractPath, c.extractPath);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineScan,
    ::testing::Values(
        ScanCase{"none", {}, false, true, false, false, L""},
        ScanCase{"quiet", {L"/q"}, true, true, false, false, L""},
        ScanCase{"quiet_capital", {L"/Q"}, true, true, false, false, L""},
        ScanCase{"dash_is_no_switch", {L"-q"}, false, true, false, false, L""},
        ScanCase{"bare_letter_is_no_switch", {L"q"}, false, true, false, false, L""},
        ScanCase{"switch_with_tail_is_no_switch", {L"/qq", L"/ex"}, false, true, false, false, L""},
        ScanCase{"extract_with_path",
                 {L"/e", L"D:\\Out\\Fix.msp"},
                 false,
                 false,
                 true,
                 false,
                 L"D:\\Out\\Fix.msp"},
        ScanCase{"extract_capital", {L"/E", L"D:\\x"}, false, false, true, false, L"D:\\x"},
        ScanCase{"extract_last", {L"/e"}, false, false, true, false, L""},
        ScanCase{"extract_consumes_a_switch", {L"/e", L"/q"}, false, false, true, false, L"/q"},
        ScanCase{"extract_twice", {L"/e", L"A", L"/e", L"B"}, false, false, true, false, L"B"},
        ScanCase{"extract_then_info", {L"/e", L"A", L"/i"}, false, false, true, true, L"A"},
        ScanCase{"info_ends_the_scan", {L"/i", L"/e", L"A", L"/q"}, false, false, false, true, L""},
        ScanCase{"info_capital", {L"/I"}, false, false, false, true, L""},
        ScanCase{"pi", {L"/pi"}, false, false, false, false, L""},
        ScanCase{"pi_capital_ends_the_scan", {L"/PI", L"/q"}, false, false, false, false, L""},
        ScanCase{"pi_after_extract", {L"/e", L"A", L"/pi", L"/i"}, false, false, true, false, L"A"},
        ScanCase{"unknown_arguments_ignored",
                 {L"foo", L"/x", L"/q", L"bar"},
                 true,
                 true,
                 false,
                 false,
                 L""}),
    [](const ::testing::TestParamInfo<ScanCase>& param) { return std::string(param.param.name); });

TEST(CommandLine, FailedSplitCountsAsNoArguments) {
  testing::FakeSystem system;
  system.FailCommandLineSplit();
  Settings settings;
  settings.quiet = true;
  settings.extractPath = L"stale";
  EXPECT_TRUE(ParseCommandLine(system, settings));
  EXPECT_FALSE(settings.quiet);
  EXPECT_TRUE(settings.apply);
  EXPECT_EQ(settings.extractPath, L"");
}

TEST(CommandLine, InfoFlagKeepsItsEarlierValueWithoutSwitch) {
  testing::FakeSystem system;
  system.SetArguments({L"update.exe", L"/q"});
  Settings settings;
  settings.info = true;
  ParseCommandLine(system, settings);
  EXPECT_TRUE(settings.info);
}

}  // namespace
}  // namespace updater
