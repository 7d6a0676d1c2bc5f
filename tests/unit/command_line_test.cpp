#include <gtest/gtest.h>

#include "launcher/settings.h"
#include "tests/fakes/fake_system.h"

namespace updater {
namespace {

struct ScanCase {
  const char* name;
  std::vector<std::wstring> arguments;  // after the program path
  Settings expected;                    // fields not named keep their starting values
};

class CommandLineScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(CommandLineScan, SetsTheSettings) {
  const ScanCase& c = GetParam();
  testing::FakeSystem system;
  std::vector<std::wstring> arguments{L"C:\\Downloads\\update.exe"};
  arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
  system.SetArguments(arguments);

  Settings settings;
  ParseCommandLine(system, settings);
  EXPECT_EQ(settings.quiet, c.expected.quiet);
  EXPECT_EQ(settings.apply, c.expected.apply);
  EXPECT_EQ(settings.extract, c.expected.extract);
  EXPECT_EQ(settings.info, c.expected.info);
  EXPECT_EQ(settings.exitCode, c.expected.exitCode);
  EXPECT_EQ(settings.extractPath, c.expected.extractPath);
  EXPECT_EQ(settings.logPath, c.expected.logPath);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineScan,
    ::testing::Values(
        ScanCase{"none", {}, {}}, ScanCase{"quiet", {L"/q"}, {.quiet = true}},
        ScanCase{"quiet_capital", {L"/Q"}, {.quiet = true}},
        ScanCase{"dash_is_no_switch", {L"-q"}, {}},
        ScanCase{"bare_letter_is_no_switch", {L"q"}, {}},
        ScanCase{"switch_with_tail_is_no_switch", {L"/qq", L"/ex"}, {}},
        ScanCase{"extract_with_path",
                 {L"/e", L"D:\\Out\\Fix.msp"},
                 {.apply = false, .extract = true, .extractPath = L"D:\\Out\\Fix.msp"}},
        ScanCase{"extract_capital",
                 {L"/E", L"D:\\x"},
                 {.apply = false, .extract = true, .extractPath = L"D:\\x"}},
        ScanCase{"extract_last", {L"/e"}, {.apply = false, .extract = true}},
        ScanCase{"extract_consumes_a_switch",
                 {L"/e", L"/q"},
                 {.apply = false, .extract = true, .extractPath = L"/q"}},
        ScanCase{"extract_twice",
                 {L"/e", L"A", L"/e", L"B"},
                 {.apply = false, .extract = true, .extractPath = L"B"}},
        ScanCase{"extract_then_info",
                 {L"/e", L"A", L"/i"},
                 {.apply = false, .extract = true, .info = true, .extractPath = L"A"}},
        ScanCase{"info_ends_the_scan", {L"/i", L"/e", L"A", L"/q"}, {.apply = false, .info = true}},
        ScanCase{"info_capital", {L"/I"}, {.apply = false, .info = true}},
        ScanCase{"pi", {L"/pi"}, {.apply = false}},
        ScanCase{"pi_capital_ends_the_scan", {L"/PI", L"/q"}, {.apply = false}},
        ScanCase{"pi_after_extract",
                 {L"/e", L"A", L"/pi", L"/i"},
                 {.apply = false, .extract = true, .extractPath = L"A"}},
        ScanCase{"unknown_arguments_ignored", {L"foo", L"/x", L"/q", L"bar"}, {.quiet = true}},
        ScanCase{"exitcode", {L"/exitcode"}, {.exitCode = true}},
        ScanCase{"exitcode_capital", {L"/ExitCode"}, {.exitCode = true}},
        ScanCase{"exitcode_whole_only", {L"/exitcodes", L"/exit", L"-exitcode", L"exitcode"}, {}},
        ScanCase{"log_with_path",
                 {L"/q", L"/log", L"D:\\Logs\\run.log", L"/exitcode"},
                 {.quiet = true, .exitCode = true, .logPath = L"D:\\Logs\\run.log"}},
        ScanCase{"log_capital", {L"/LOG", L"x.log"}, {.logPath = L"x.log"}},
        ScanCase{"log_consumes_a_switch", {L"/log", L"/q"}, {.logPath = L"/q"}},
        ScanCase{"log_consumes_extract", {L"/log", L"/e", L"A"}, {.logPath = L"/e"}},
        ScanCase{"log_last", {L"/log"}, {}},
        ScanCase{"log_last_keeps_the_earlier_path", {L"/log", L"A", L"/log"}, {.logPath = L"A"}},
        ScanCase{"log_twice", {L"/log", L"A", L"/log", L"B"}, {.logPath = L"B"}},
        ScanCase{"log_whole_only", {L"/logfile", L"A", L"/l", L"B"}, {}},
        ScanCase{"extract_consumes_log",
                 {L"/e", L"/log", L"B"},
                 {.apply = false, .extract = true, .extractPath = L"/log"}},
        ScanCase{"log_and_exitcode_with_extract",
                 {L"/e", L"A", L"/log", L"B", L"/exitcode"},
                 {.apply = false,
                  .extract = true,
                  .exitCode = true,
                  .extractPath = L"A",
                  .logPath = L"B"}},
        ScanCase{"info_ends_the_scan_before_log",
                 {L"/exitcode", L"/i", L"/log", L"B", L"/exitcode"},
                 {.apply = false, .info = true, .exitCode = true}},
        ScanCase{"pi_ends_the_scan_before_exitcode", {L"/pi", L"/exitcode"}, {.apply = false}}),
    [](const ::testing::TestParamInfo<ScanCase>& param) { return std::string(param.param.name); });

TEST(CommandLine, FailedSplitCountsAsNoArguments) {
  testing::FakeSystem system;
  system.FailCommandLineSplit();
  Settings settings;
  settings.quiet = true;
  settings.extractPath = L"stale";
  settings.exitCode = true;
  settings.logPath = L"stale";
  ParseCommandLine(system, settings);
  EXPECT_FALSE(settings.exitCode);
  EXPECT_EQ(settings.logPath, L"");
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
