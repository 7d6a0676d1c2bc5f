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

  const Settings settings = ParseCommandLine(system);
  EXPECT_EQ(settings.mode, c.expected.mode);
  EXPECT_EQ(settings.quiet, c.expected.quiet);
  EXPECT_EQ(settings.exitCode, c.expected.exitCode);
  EXPECT_EQ(settings.extractPath, c.expected.extractPath);
  EXPECT_EQ(settings.logPath, c.expected.logPath);
  EXPECT_EQ(settings.noRestart, c.expected.noRestart);
  EXPECT_EQ(settings.waitSeconds, c.expected.waitSeconds);
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
                 {.mode = Mode::kExtract, .extractPath = L"D:\\Out\\Fix.msp"}},
        ScanCase{"extract_capital",
                 {L"/E", L"D:\\x"},
                 {.mode = Mode::kExtract, .extractPath = L"D:\\x"}},
        ScanCase{"extract_last", {L"/e"}, {.mode = Mode::kExtract}},
        ScanCase{"extract_consumes_a_switch",
                 {L"/e", L"/q"},
                 {.mode = Mode::kExtract, .extractPath = L"/q"}},
        ScanCase{"extract_twice",
                 {L"/e", L"A", L"/e", L"B"},
                 {.mode = Mode::kExtract, .extractPath = L"B"}},
        ScanCase{"extract_then_info",
                 {L"/e", L"A", L"/i"},
                 {.mode = Mode::kExtractAndReport, .extractPath = L"A"}},
        ScanCase{"info_ends_the_scan", {L"/i", L"/e", L"A", L"/q"}, {.mode = Mode::kReport}},
        ScanCase{"info_capital", {L"/I"}, {.mode = Mode::kReport}},
        ScanCase{"pi", {L"/pi"}, {.mode = Mode::kNothing}},
        ScanCase{"pi_capital_ends_the_scan", {L"/PI", L"/q"}, {.mode = Mode::kNothing}},
        ScanCase{"pi_after_extract",
                 {L"/e", L"A", L"/pi", L"/i"},
                 {.mode = Mode::kExtract, .extractPath = L"A"}},
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
                 {.mode = Mode::kExtract, .extractPath = L"/log"}},
        ScanCase{"log_and_exitcode_with_extract",
                 {L"/e", L"A", L"/log", L"B", L"/exitcode"},
                 {.mode = Mode::kExtract, .exitCode = true, .extractPath = L"A", .logPath = L"B"}},
        ScanCase{"info_ends_the_scan_before_log",
                 {L"/exitcode", L"/i", L"/log", L"B", L"/exitcode"},
                 {.mode = Mode::kReport, .exitCode = true}},
        ScanCase{
            "pi_ends_the_scan_before_exitcode", {L"/pi", L"/exitcode"}, {.mode = Mode::kNothing}},
        // One mode, the first of: a refused line, the usage, a plan, a run, then "/e" and "/i".
        ScanCase{"plan_over_a_report_after_it", {L"/plan", L"/i"}, {.mode = Mode::kPlan}},
        ScanCase{"report_ends_the_scan_before_plan", {L"/i", L"/plan"}, {.mode = Mode::kReport}},
        ScanCase{"usage_over_plan",
                 {L"/plan", L"/HELP", L"/e", L"A"},
                 {.mode = Mode::kUsage, .extractPath = L"A"}},
        ScanCase{"refused_over_usage", {L"/?", L"/wait", L"x"}, {.mode = Mode::kRefused}}),
    [](const ::testing::TestParamInfo<ScanCase>& param) { return std::string(param.param.name); });

TEST(CommandLine, FailedSplitCountsAsNoArguments) {
  testing::FakeSystem system;
  system.FailCommandLineSplit();
  const Settings settings = ParseCommandLine(system);
  EXPECT_EQ(settings.mode, Mode::kApply);
  EXPECT_FALSE(settings.quiet || settings.exitCode || settings.noRestart);
  EXPECT_EQ(settings.extractPath, L"");
  EXPECT_EQ(settings.logPath, L"");
  EXPECT_EQ(settings.waitSeconds, kDefaultWaitSeconds);
}

}  // namespace
}  // namespace updater
