// Deployment on many machines: waiting for another installation, no box where nobody sees one,
// restart control and the restart message, the dry run, the usage, and loading msi.dll where the
// system folder flag is unknown.
#include <gtest/gtest.h>

#include "apply/apply_payload.h"
#include "apply/installer_wait.h"
#include "launcher/entry.h"
#include "launcher/settings.h"
#include "messages/catalogue.h"
#include "messages/message_box.h"
#include "payload/payload_kinds.h"
#include "platform/system_library.h"
#include "tests/fakes/fake_installer.h"
#include "tests/fakes/fake_system.h"
#include "tests/fakes/string_tables.h"

namespace updater {
namespace {

using testing::FakeInstaller;
using testing::FakeSystem;

constexpr wchar_t kDefaultLog[] = L"C:\\Temp\\update_20261210040506_00000000.log";
constexpr wchar_t kMutex[] = L"Global\\_MSIExecute";

class Fleet : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::LoadStringTable(system, 1033);
    system.AddDirectory(L"C:\\Downloads");
    system.AddFile(L"C:\\Downloads\\update.exe", std::string(4321, 'x'));
    system.SetOsVersion(OsVersionInfo{6, 1, 2, 0, 1}, std::nullopt, 0);
    installer.readFile = [this](const std::wstring& path) { return system.ReadFile(path); };
  }
  void Carry(const std::wstring& codes, const std::wstring& versions = L"2.0;1.0") {
    system.AddPayload(kPayloadGlobal, std::string("global patch"));
    installer.AddPackageContent("global patch", codes, versions);
  }
  void Product(const std::wstring& code, const std::wstring& version, uint32_t result = 0) {
    installer.AddProduct(code, L"Suite " + code, L"1033", version);
    installer.SetConfigureResult(code, result);
  }
  int Run(std::vector<std::wstring> arguments) {
    arguments.insert(arguments.begin(), L"C:\\Downloads\\update.exe");
    system.SetArguments(arguments);
    return RunUpdater(system, installer);
  }
  std::string Log(const std::wstring& path = kDefaultLog) {
    const std::optional<std::string> content = system.ReadFile(path);
    return content ? *content : std::string();
  }
  std::wstring BoxText(uint32_t id, const std::wstring& insert) {
    std::wstring format;
    LoadText(system, id, 1033, format, 256);
    return ComposeMessage(format, insert, format.size() + 511);
  }
  FakeSystem system;
  FakeInstaller installer;
};

// --- the wait for another installation ------------------------------------------------------

struct WaitRecord final : IgnoringEvents {
  void InstallerBusy(const ProductRun&, uint32_t left) override { busy.push_back(left); }
  void InstallerWaitEnded(const ProductRun&, uint32_t waited, bool free) override {
    ended.push_back({waited, free});
  }
  std::vector<uint32_t> busy;
  std::vector<std::pair<uint32_t, bool>> ended;
};

struct WaitCase {
  const char* name;
  uint32_t start;                   // the tick count when the wait begins
  std::optional<uint32_t> heldFor;  // nothing: no such mutex
  std::optional<uint32_t> openError;
  uint32_t bound;
  bool free;
  std::vector<uint32_t> pauses;
  std::vector<std::pair<uint32_t, bool>> ended;
};

class InstallerWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(InstallerWait, PollsUntilFreeOrTheBound) {
  const WaitCase& c = GetParam();
  FakeSystem system;
  system.SetTickCount(c.start);
  if (c.heldFor) system.HoldMutexUntil(kMutex, c.start + *c.heldFor);
  system.mutexOpenError = c.openError;
  InstallerWaitPolicy policy;
  policy.boundMilliseconds = c.bound;
  WaitRecord events;
  EXPECT_EQ(WaitForFreeInstaller(system, policy, c.start, events, ProductRun{}), c.free);
  EXPECT_EQ(system.pauses(), c.pauses);
  EXPECT_EQ(events.ended, c.ended);
  EXPECT_EQ(events.busy.size(), c.ended.size());
  if (!events.busy.empty()) {
    EXPECT_EQ(events.busy[0], c.bound);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstallerWait,
    ::testing::Values(
        WaitCase{"no_mutex", 1000, std::nullopt, std::nullopt, 600000, true, {}, {}},
        WaitCase{"free_at_once", 1000, 0, std::nullopt, 600000, true, {}, {}},
        WaitCase{"held_for_a_while",
                 1000,
                 3500,
                 std::nullopt,
                 600000,
                 true,
                 {1000, 1000, 1000, 1000},
                 {{4000, true}}},
        WaitCase{"held_past_the_bound",
                 1000,
                 60000,
                 std::nullopt,
                 2500,
                 false,
                 {1000, 1000, 500},
                 {{2500, false}}},
        WaitCase{"no_wait_at_all", 1000, 60000, std::nullopt, 0, false, {}, {{0, false}}},
        WaitCase{"mutex_not_opened", 1000, 60000, kErrorAccessDenied, 600000, true, {}, {}},
        WaitCase{"tick_count_wraps",
                 0xFFFFF800u,
                 2500,
                 std::nullopt,
                 600000,
                 true,
                 {1000, 1000, 1000},
                 {{3000, true}}}),
    [](const ::testing::TestParamInfo<WaitCase>& param) { return std::string(param.param.name); });

TEST(RetryPause, DoublesUpToTheLongestAndNeverPastTheBound) {
  InstallerWaitPolicy policy;  // 2 s first, 60 s longest, 600 s bound
  EXPECT_EQ(NextRetryPause(policy, 0, 0), 2000u);
  EXPECT_EQ(NextRetryPause(policy, 2000, 2000), 4000u);
  EXPECT_EQ(NextRetryPause(policy, 32000, 62000), 60000u);
  EXPECT_EQ(NextRetryPause(policy, 60000, 100000), 60000u);
  EXPECT_EQ(NextRetryPause(policy, 60000, 590000), 10000u);
  EXPECT_EQ(NextRetryPause(policy, 60000, 600000), 0u);
  EXPECT_EQ(NextRetryPause(policy, 60000, 700000), 0u);
  policy.longestRetryMilliseconds = 0xF0000000u;
  policy.boundMilliseconds = 0xFFFFFFFFu;
  EXPECT_EQ(NextRetryPause(policy, 0xE0000000u, 0), 0xF0000000u) << "no overflow";
}

TEST_F(Fleet, TheCallWaitsWhileAnotherInstallationRunsAndTheLogSaysHowLong) {
  Carry(L"{A}");
  Product(L"{A}", L"1.0");
  system.HoldMutexUntil(kMutex, 1000 + 2500);
  std::vector<uint32_t> calledAt;
  installer.onConfigure = [&](const std::wstring&) { calledAt.push_back(system.TickCount()); };
  EXPECT_EQ(Run({L"/q", L"/exitcode"}), 0);
  ASSERT_EQ(calledAt.size(), 1u);
  EXPECT_GE(calledAt[0], 3500u) << "the call came only after the mutex was free";
  const std::string log = Log();
  EXPECT_NE(log.find("Installer busy before the call for {A}"), std::string::npos) << log;
  EXPECT_NE(log.find("Global\\_MSIExecute"), std::string::npos) << log;
  EXPECT_NE(log.find("Installer free for {A} \"Suite {A}\" after waiting 3000 ms"),
            std::string::npos)
      << log;
  EXPECT_LT(log.find("Installer free"), log.find("Installer call for {A}"));
}

TEST_F(Fleet, AfterTheBoundTheResultIs1618WithoutACall) {
  Carry(L"{A}");
  Product(L"{A}", L"1.0");
  system.HoldMutexUntil(kMutex, 100000000u);
  EXPECT_EQ(Run({L"/wait", L"5", L"/exitcode"}), 1618);
  EXPECT_TRUE(installer.configurations().empty());
  ASSERT_EQ(system.boxes().size(), 1u);
  EXPECT_EQ(system.boxes()[0].text, BoxText(300, L"1618"));
  uint32_t paused = 0;
  for (const uint32_t pause : system.pauses()) paused += pause;
  EXPECT_EQ(paused, 5000u);
  EXPECT_NE(Log().find("Installer still busy after waiting 5000 ms"), std::string::npos) << Log();
}

TEST_F(Fleet, A1618IsTriedAgainAfterGrowingPauses) {
  Carry(L"{A}");
  Product(L"{A}", L"1.0");
  installer.scriptedConfigureResults = {1618, 1618, 0};
  EXPECT_EQ(Run({L"/q", L"/exitcode"}), 0);
  EXPECT_EQ(installer.configurations().size(), 3u);
  EXPECT_EQ(system.pauses(), (std::vector<uint32_t>{2000, 4000}));
  const std::string log = Log();
  EXPECT_NE(log.find("gave 1618 (another installation is running): call 2 after a pause of 2000"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("call 3 after a pause of 4000 ms"), std::string::npos) << log;
  EXPECT_NE(log.find("result 0 (success)"), std::string::npos) << log;
}

TEST_F(Fleet, RetriesEndAtTheBoundWith1618) {
  Carry(L"{A}");
  Product(L"{A}", L"1.0", 1618);
  EXPECT_EQ(Run({L"/q", L"/exitcode"}), 1618);
  uint32_t paused = 0;
  for (const uint32_t pause : system.pauses()) paused += pause;
  EXPECT_EQ(paused, 600000u) << "the default bound, 10 minutes, and not a moment more";
  // 2, 4, 8, 16, 32 s, then 60 s pauses, the last one cut to the bound.
  EXPECT_EQ(system.pauses().front(), 2000u);
  EXPECT_EQ(system.pauses()[5], 60000u);
  EXPECT_EQ(installer.configurations().size(), system.pauses().size() + 1);

  // "/wait 0": one call, no retry.
  const size_t calls = installer.configurations().size();
  EXPECT_EQ(Run({L"/q", L"/wait", L"0", L"/exitcode"}), 1618);
  EXPECT_EQ(installer.configurations().size(), calls + 1);
}

// --- where nobody sees a box ----------------------------------------------------------------

TEST_F(Fleet, OnAnInvisibleWindowStationNoBoxIsShownAndTheLogSaysWhy) {
  Carry(L"{A}");
  Product(L"{A}", L"1.0");
  system.SetWindowStationVisible(false);
  EXPECT_EQ(Run({L"/exitcode"}), 0);
  EXPECT_TRUE(system.boxes().empty());
  EXPECT_EQ(installer.configurations().size(), 1u) << "the patch still goes in";
  const std::string log = Log();
  EXPECT_NE(log.find("Window station not visible (no WSF_VISIBLE"), std::string::npos) << log;
  EXPECT_NE(log.find("Message 301, caption \"Installation Successful\", not shown: window station "
                     "not visible"),
            std::string::npos)
      << log;

  // The report and the usage are boxes too.
  EXPECT_EQ(Run({L"/i"}), 0);
  EXPECT_EQ(Run({L"/?"}), 0);
  EXPECT_TRUE(system.boxes().empty());
}

TEST_F(Fleet, AVisibleOrUnknownWindowStationShowsTheBoxes) {
  Carry(L"{A}");
  Product(L"{A}", L"1.0");
  for (const std::optional<bool> visible : {std::optional<bool>(true), std::optional<bool>()}) {
    system.SetWindowStationVisible(visible);
    const size_t before = system.boxes().size();
    Run({});
    ASSERT_EQ(system.boxes().size(), before + 1);
    EXPECT_EQ(system.boxes().back().text, BoxText(301, L"Suite {A}"));
  }
}

// --- restarts -------------------------------------------------------------------------------

TEST_F(Fleet, NoRestartAddsReallySuppressAndKeepsTheRestOfTheCommandLine) {
  Carry(L"{A}");
  Product(L"{A}", L"1.0", 3010);
  EXPECT_EQ(Run({L"/q", L"/exitcode"}), 3010);
  EXPECT_EQ(Run({L"/q", L"/NoRestart", L"/exitcode"}), 3010);
  ASSERT_EQ(installer.configurations().size(), 2u);
  const std::wstring plain = installer.configurations()[0].commandLine;
  EXPECT_EQ(plain.find(L"REBOOT="), std::wstring::npos);
  EXPECT_EQ(installer.configurations()[1].commandLine, plain + L" REBOOT=ReallySuppress");
  EXPECT_EQ(BuildPatchCommandLine(L"C:\\P\\MSP1", L"Close:", true),
            L"PATCH=\"C:\\P\\MSP1\" REBOOTPROMPT=S FILESINUSETEXT=\"Close:\" "
            L"REBOOT=ReallySuppress");
}

struct RestartCase {
  const char* name;
  std::vector<uint32_t> results;  // of products {A}, {B}, ... all to be patched
  uint32_t closing;
};

class RestartMessage : public Fleet, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(RestartMessage, TellsThatARestartCompletesTheUpdate) {
  const RestartCase& c = GetParam();
  std::wstring codes;
  for (size_t n = 0; n < c.results.size(); ++n) {
    const std::wstring code = L"{" + std::wstring(1, static_cast<wchar_t>(L'A' + n)) + L"}";
    codes += (codes.empty() ? L"" : L";") + code;
    Product(code, L"1.0", c.results[n]);
  }
  Carry(codes);
  Run({});
  ASSERT_FALSE(system.boxes().empty());
  const testing::ShownBox& box = system.boxes().back();
  const std::wstring last =
      L"Suite {" + std::wstring(1, static_cast<wchar_t>(L'A' + c.results.size() - 1)) + L"}";
  EXPECT_EQ(box.text, BoxText(c.closing, last));
  EXPECT_EQ(box.caption, L"Installation Successful");
  EXPECT_EQ(box.type, 0x50040u);
  const size_t boxes = system.boxes().size();
  Run({L"/q"});
  EXPECT_EQ(system.boxes().size(), boxes) << "/q shows nothing";
}

INSTANTIATE_TEST_SUITE_P(Cases, RestartMessage,
                         ::testing::Values(RestartCase{"patched", {0}, 301},
                                           RestartCase{"restart_needed", {3010}, 319},
                                           RestartCase{"restart_started", {1641}, 301},
                                           RestartCase{"one_needs_a_restart", {0, 3010}, 319},
                                           RestartCase{"needed_and_started", {3010, 1641}, 301}),
                         [](const ::testing::TestParamInfo<RestartCase>& param) {
                           return std::string(param.param.name);
                         });

// --- the dry run ----------------------------------------------------------------------------

struct PlanCase {
  const char* name;
  std::vector<std::pair<const wchar_t*, const wchar_t*>> products;  // code, installed version
  const wchar_t* codes;  // the patch's targets; nullptr: a payload that is no patch
  uint32_t code;
};

class Plan : public Fleet, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(Plan, DecidesEveryProductChangesNothingAndAlwaysGivesItsCode) {
  const PlanCase& c = GetParam();
  for (const auto& [code, version] : c.products) Product(code, version);
  if (c.codes) {
    Carry(c.codes);
  } else {
    system.AddPayload(kPayloadGlobal, std::string("random bytes"));
  }
  EXPECT_EQ(Run({L"/plan"}), static_cast<int>(c.code)) << "without /exitcode";
  EXPECT_TRUE(installer.configurations().empty());
  EXPECT_TRUE(system.boxes().empty());
  EXPECT_TRUE(system.PayloadCopies().empty());
  const std::string log = Log();
  for (const auto& [code, version] : c.products) {
    const std::string narrow(code, code + 3);
    EXPECT_NE(log.find("Decision for " + narrow), std::string::npos) << log;
  }
  EXPECT_NE(log.find("exit code " + std::to_string(c.code) + " (returned: /plan given)"),
            std::string::npos)
      << log;
  EXPECT_EQ(Run({L"/plan", L"/exitcode"}), static_cast<int>(c.code));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Plan,
    ::testing::Values(
        PlanCase{"would_patch", {{L"{A}", L"1.0"}}, L"{A}", 1},
        PlanCase{"up_to_date", {{L"{A}", L"2.0"}}, L"{A}", 0},
        PlanCase{"patch_and_up_to_date", {{L"{A}", L"1.0"}, {L"{B}", L"2.0"}}, L"{A};{B}", 1},
        PlanCase{"not_covered", {{L"{A}", L"0.9"}}, L"{A}", 1642},
        PlanCase{"patch_and_not_covered", {{L"{A}", L"1.0"}, {L"{B}", L"0.9"}}, L"{A};{B}", 1642},
        PlanCase{"no_target_installed", {}, L"{A}", 1642},
        PlanCase{"not_a_patch", {}, nullptr, 1603}),
    [](const ::testing::TestParamInfo<PlanCase>& param) { return std::string(param.param.name); });

TEST_F(Fleet, PlanLogsEveryDecisionWithItsReason) {
  Carry(L"{A};{B}");
  Product(L"{A}", L"1.0");
  Product(L"{B}", L"0.9");
  Run({L"/plan"});
  const std::string log = Log();
  EXPECT_NE(log.find("Decision for {A} \"Suite {A}\": patch: installed version 1.0.0.0 is one of "
                     "the target versions (/plan: not patched)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Decision for {B} \"Suite {B}\": not covered"), std::string::npos) << log;
  EXPECT_NE(log.find("Message 308, caption \"Installation Error\", not shown: /plan"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Installer call"), std::string::npos) << log;
  // The plan in full, before the walk: every product with its installer call as it would be made.
  for (const char* planned : {
           "Plan for {A} \"Suite {A}\": patch: installed version 1.0.0.0 is one of the target "
           "versions; locale 1033, messages name \"Suite {A}\"; installer call with UI level 35, "
           "installer log C:\\Temp\\Suite {A} SP1.log, else C:\\Temp\\Suite {A} (2) SP1.log, else "
           "C:\\Temp\\Suite {A} (3) SP1.log, command line PATCH=\"",
           "REBOOTPROMPT=S FILESINUSETEXT=\"The following applications should be closed",
           "Plan for {B} \"Suite {B}\": not covered",
           ", message 308",
           "Plan for payload IDR_MSP (Global MSP): applied",
           "Plan for payload IDR_MSP_LP (Language pack MSP): not carried",
           "Plan for payload IDR_MSP_PS (Product Specific MSP): not carried",
       }) {
    EXPECT_NE(log.find(planned), std::string::npos) << planned << "\n" << log;
  }
  EXPECT_LT(log.find("Plan for payload IDR_MSP_PS"), log.find("Decision for {A}"));
}

TEST_F(Fleet, PlanWinsOverExtractAndOverAReportItComesBefore) {
  Carry(L"{A}");
  Product(L"{A}", L"1.0");
  system.AddDirectory(L"D:\\Out");
  for (const std::vector<std::wstring>& line :
       {std::vector<std::wstring>{L"/plan", L"/e", L"D:\\Out\\Fix.msp"},
        std::vector<std::wstring>{L"/e", L"D:\\Out\\Fix.msp", L"/plan"},
        std::vector<std::wstring>{L"/plan", L"/i"},
        std::vector<std::wstring>{L"/e", L"D:\\Out\\Fix.msp", L"/plan", L"/i"}}) {
    EXPECT_EQ(Run(line), 1);
    EXPECT_FALSE(system.Exists(L"D:\\Out\\Fix.msp"));
    EXPECT_TRUE(system.boxes().empty());
  }
  // "/i" ends the scan before "/plan": the report, as "/i /e" reports only.
  EXPECT_EQ(Run({L"/i", L"/plan"}), 0);
  ASSERT_EQ(system.boxes().size(), 1u);
  EXPECT_EQ(system.boxes()[0].caption, L"Info");
  EXPECT_TRUE(installer.configurations().empty());
}

// --- the command line -----------------------------------------------------------------------

struct SwitchCase {
  const char* name;
  std::vector<std::wstring> arguments;
  Mode mode;
  bool noRestart;
  uint32_t waitSeconds;
};

class NewSwitches : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(NewSwitches, AreRead) {
  const SwitchCase& c = GetParam();
  FakeSystem system;
  std::vector<std::wstring> arguments{L"update.exe"};
  arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
  system.SetArguments(arguments);
  const Settings settings = ParseCommandLine(system);
  EXPECT_EQ(settings.mode, c.mode);
  EXPECT_EQ(settings.noRestart, c.noRestart);
  EXPECT_EQ(settings.waitSeconds, c.waitSeconds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NewSwitches,
    ::testing::Values(
        SwitchCase{"none", {}, Mode::kApply, false, 600},
        SwitchCase{"norestart", {L"/NORESTART"}, Mode::kApply, true, 600},
        SwitchCase{"norestart_with_tail", {L"/norestarts"}, Mode::kApply, false, 600},
        SwitchCase{"plan", {L"/Plan"}, Mode::kPlan, false, 600},
        SwitchCase{"plan_over_extract", {L"/e", L"X", L"/plan"}, Mode::kPlan, false, 600},
        SwitchCase{"question_mark", {L"/?"}, Mode::kUsage, false, 600},
        SwitchCase{"help", {L"/HELP"}, Mode::kUsage, false, 600},
        SwitchCase{"help_over_plan", {L"/plan", L"/help"}, Mode::kUsage, false, 600},
        SwitchCase{"dash_help_is_no_switch", {L"-?"}, Mode::kApply, false, 600},
        SwitchCase{"wait", {L"/wait", L"90"}, Mode::kApply, false, 90},
        SwitchCase{"wait_zero", {L"/WAIT", L"0"}, Mode::kApply, false, 0},
        SwitchCase{"wait_a_day", {L"/wait", L"86400"}, Mode::kApply, false, 86400},
        SwitchCase{"wait_too_long", {L"/wait", L"86401"}, Mode::kRefused, false, 600},
        SwitchCase{"wait_huge", {L"/wait", L"4294967296"}, Mode::kRefused, false, 600},
        SwitchCase{"wait_letters", {L"/wait", L"ten"}, Mode::kRefused, false, 600},
        SwitchCase{"wait_negative", {L"/wait", L"-5"}, Mode::kRefused, false, 600},
        SwitchCase{"wait_with_unit", {L"/wait", L"10s"}, Mode::kRefused, false, 600},
        SwitchCase{"wait_empty", {L"/wait", L""}, Mode::kRefused, false, 600},
        SwitchCase{"wait_last", {L"/wait"}, Mode::kRefused, false, 600},
        SwitchCase{"wait_takes_a_switch", {L"/wait", L"/q"}, Mode::kRefused, false, 600},
        SwitchCase{"refused_over_plan", {L"/plan", L"/wait", L"x"}, Mode::kRefused, false, 600}),
    [](const ::testing::TestParamInfo<SwitchCase>& param) {
      return std::string(param.param.name);
    });

TEST_F(Fleet, AMalformedWaitIsRefusedWith309AndAppliesNothing) {
  Carry(L"{A}");
  Product(L"{A}", L"1.0");
  EXPECT_EQ(Run({L"/wait", L"soon", L"/exitcode"}), 1639);
  ASSERT_EQ(system.boxes().size(), 1u);
  EXPECT_EQ(system.boxes()[0].text, BoxText(309, L""));
  EXPECT_EQ(Run({L"/wait", L"soon"}), 0) << "without /exitcode";
  EXPECT_EQ(Run({L"/q", L"/plan", L"/wait"}), 1639) << "a dry run always gives its code";
  EXPECT_EQ(system.boxes().size(), 2u);
  EXPECT_TRUE(installer.configurations().empty());
  EXPECT_NE(Log().find("command line refused"), std::string::npos);
}

TEST_F(Fleet, UsageComesInTheUsersDefaultLanguageAndAppliesNothing) {
  Carry(L"{A}");
  Product(L"{A}", L"1.0");
  testing::LoadStringTable(system, 1031);
  system.SetUserDefaultLocale(1031);
  EXPECT_EQ(Run({L"/help", L"/exitcode"}), 0);
  ASSERT_EQ(system.boxes().size(), 1u);
  std::wstring heading;
  LoadText(system, 320, 1031, heading, 256);
  EXPECT_EQ(system.boxes()[0].text.substr(0, heading.size()), heading);
  EXPECT_NE(system.boxes()[0].text.find(L"/norestart \u2013 nie neu starten"), std::wstring::npos);
  EXPECT_EQ(Run({L"/?", L"/q"}), 0);
  EXPECT_EQ(system.boxes().size(), 1u) << "/q shows nothing";
  EXPECT_TRUE(installer.configurations().empty());
}

// --- msi.dll on older systems ---------------------------------------------------------------

TEST(SystemLibrary, FallsBackToTheFullPathOnlyWhereTheFlagIsRefused) {
  struct Case {
    const char* name;
    std::optional<uint32_t> flagError;
    std::optional<std::wstring> folder;
    std::optional<uint32_t> pathError;
    uint32_t error;  // 0: loaded
    std::vector<std::wstring> loads;
  };
  const Case cases[] = {
      {"flag_known",
       std::nullopt,
       L"C:\\Windows\\System32",
       std::nullopt,
       0,
       {L"system32:msi.dll"}},
      {"flag_refused",
       kErrorInvalidParameter,
       L"C:\\Windows\\System32",
       std::nullopt,
       0,
       {L"system32:msi.dll", L"path:C:\\Windows\\System32\\msi.dll"}},
      {"not_in_the_system_folder",
       126u,
       L"C:\\Windows\\System32",
       std::nullopt,
       126,
       {L"system32:msi.dll"}},
      {"system_folder_unknown",
       kErrorInvalidParameter,
       std::nullopt,
       std::nullopt,
       87,
       {L"system32:msi.dll"}},
      {"full_path_fails",
       kErrorInvalidParameter,
       L"C:\\Windows\\System32",
       193u,
       193,
       {L"system32:msi.dll", L"path:C:\\Windows\\System32\\msi.dll"}},
  };
  for (const Case& c : cases) {
    FakeSystem system;
    if (c.flagError) system.FailSystem32Load(*c.flagError);
    system.SetSystemFolder(c.folder);
    system.pathLoadError = c.pathError;
    const Outcome<void*> library = LoadSystemLibrary(system, L"msi.dll");
    EXPECT_EQ(library.ok(), c.error == 0) << c.name;
    EXPECT_EQ(library.error(), c.error) << c.name;
    EXPECT_EQ(system.libraryLoads(), c.loads) << c.name;
  }
}

}  // namespace
}  // namespace updater
