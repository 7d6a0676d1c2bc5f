#include <gtest/gtest.h>

#include "apply/apply_payload.h"
#include "apply/log_name.h"
#include "messages/catalogue.h"
#include "tests/fakes/fake_platform.h"
#include "tests/unit/placed_options.h"

namespace updater {
namespace {

constexpr wchar_t kA[] = L"{AAAAAAAA-0000-0000-0000-000000000001}";
constexpr wchar_t kB[] = L"{BBBBBBBB-0000-0000-0000-000000000002}";
constexpr wchar_t kC[] = L"{CCCCCCCC-0000-0000-0000-000000000003}";

const PayloadKind& kGlobal = kPayloadKinds[0];
const PayloadKind& kLanguagePack = kPayloadKinds[1];
const PayloadKind& kProductSpecific = kPayloadKinds[2];

class ApplyPayloadTest : public ::testing::Test, public testing::FakePlatform {
 protected:
  void SetUp() override {
    system.AddStringTable(1031, {{300, L"Fehler %d"},
                                 {308, L"Falsche Version von %s"},
                                 {311, L"Installationsfehler"},
                                 {315, L"Bitte schliessen:"}});
    system.SetUserDefaultLocale(1033);
  }

  // One run, with the messages going on from where the previous run left them, as in a sequence.
  PayloadRun Apply(const PayloadKind& kind = kGlobal) {
    applier.SetOptions(PlacedOptions(system));
    PayloadRun run = applier.ApplyPayload(kind, context);
    context = run.messages;
    return run;
  }
  PayloadOutcome Outcome(const PayloadKind& kind = kGlobal) { return Apply(kind).outcome; }

  std::wstring Text(uint32_t id, const std::wstring& insert = L"") {
    return MessageText(id, insert);
  }
  void ExpectNoPayloadCopyLeft() { EXPECT_TRUE(system.PayloadCopies().empty()); }

  MessageContext context{1033, L"", 0};
  PayloadStore store{system};
  MessageBoxes messages{system, false};
  PayloadApplier applier{system, installer, store, messages};
};

TEST_F(ApplyPayloadTest, PatchesAnInstalledTargetVersion) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.1.30.0;2.0.10.0,2.1.0.0");
  installer.AddProduct(kA, L"Sample Suite", L"1033", L"2.1.0.0");
  installer.SetConfigureResult(kA, kErrorSuccessRebootRequired);

  const PayloadRun run = Apply();
  EXPECT_EQ(run.outcome, PayloadOutcome::Applied);
  EXPECT_TRUE(system.boxes().empty());
  ASSERT_EQ(installer.configurations().size(), 1u);
  const auto& call = installer.configurations()[0];
  EXPECT_EQ(call.productCode, kA);
  EXPECT_EQ(call.installLevel, 0);
  EXPECT_EQ(call.installState, 5);
  EXPECT_EQ(call.commandLine,
            L"PATCH=\"C:\\Temp\\MSP2\" REBOOTPROMPT=S FILESINUSETEXT=\"The following applications "
            L"should be closed before continuing the install:\"");
  EXPECT_EQ(call.uiLevel, 0x23);
  EXPECT_EQ(call.logFile, L"C:\\Temp\\Sample Suite SP1.log");
  EXPECT_EQ(call.logMode, 0x1000u);
  EXPECT_EQ(installer.logAttributes(), 0u);
  EXPECT_EQ(installer.uiLevel(), 5);  // restored
  ExpectNoPayloadCopyLeft();

  // The facts of the product's run, as values.
  ASSERT_EQ(run.products.size(), 1u);
  const ProductRun& productRun = run.products[0];
  EXPECT_EQ(productRun.plan.product.productName, L"Sample Suite");
  EXPECT_EQ(productRun.plan.product.installedVersion, L"2.1.0.0");
  EXPECT_EQ(productRun.plan.locale, 1033u);
  EXPECT_EQ(productRun.plan.decision.decision, Decision::kPatch);
  EXPECT_EQ(productRun.logPath, call.logFile);
  EXPECT_EQ(productRun.installerResult, std::optional<uint32_t>(3010));
  EXPECT_EQ(run.messages.productName, L"Sample Suite");

  // The installer calls of one product, in order: elevated, the registrations are listed once
  // more right before the call.
  std::vector<std::wstring> tail(installer.calls().end() - 6, installer.calls().end());
  EXPECT_EQ(tail, (std::vector<std::wstring>{
                      L"EnableLog", L"SetInternalUI 35", L"EnumProductsEx S-1-1-0 7 0",
                      L"EnumProductsEx S-1-1-0 7 1", std::wstring(L"ConfigureProductEx ") + kA,
                      L"SetInternalUI 5"}));
}

TEST_F(ApplyPayloadTest, KeepsOnlyInstalledTargetsInTheirOrder) {
  system.SetElevated(false);  // the state of each code, as this user sees it
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB + L";" + kC, L"2.0;1.0");
  installer.AddProduct(kC, L"Gamma", L"1033", L"1.0");
  installer.AddProduct(kB, L"Beta", L"1033", L"1.0", /*state=*/2);  // another user's
  const PayloadRun run = Apply();
  EXPECT_EQ(run.outcome, PayloadOutcome::Applied);
  ASSERT_EQ(run.products.size(), 1u);
  EXPECT_EQ(run.products[0].plan.product.productCode, kC);
  EXPECT_EQ(installer.queriedStates(), 3u);
  EXPECT_TRUE(system.boxes().empty());
}

TEST_F(ApplyPayloadTest, CodeListEndsAtTheFirstEmptyEntry) {
  system.SetElevated(false);
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";;" + kB, L"2.0;1.0");
  installer.AddProduct(kB, L"Beta", L"1033", L"1.0");
  EXPECT_EQ(Outcome(), PayloadOutcome::Failed);
  EXPECT_EQ(installer.queriedStates(), 1u);  // only A was examined
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(307)});
  ExpectNoPayloadCopyLeft();
}

// Elevated, a target with an unmanaged per-user registration beside its machine-wide one is left
// as if it were not installed: the installer call would take the user's registration.
TEST_F(ApplyPayloadTest, ElevatedAPerUserRegistrationKeepsItsCodeFromBeingPatched) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB, L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  installer.AddRegistration(kA, kInstallContextUserUnmanaged, L"S-1-5-21-5", L"Alpha", L"1033",
                            L"1.0");
  EXPECT_EQ(Outcome(), PayloadOutcome::Failed);
  EXPECT_TRUE(installer.configurations().empty());
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(307)});

  // The same beside a target that only has its machine-wide registration: that one is patched.
  installer.AddProduct(kB, L"Beta", L"1033", L"1.0");
  const PayloadRun run = Apply();
  EXPECT_EQ(run.outcome, PayloadOutcome::Applied);
  ASSERT_EQ(installer.configurations().size(), 1u);
  EXPECT_EQ(installer.configurations()[0].productCode, kB);
  ExpectNoPayloadCopyLeft();
}

// A run that ends before its per-product pass: what the payload carries, and the one box shown.
struct EarlyFailure {
  const char* name;
  std::optional<std::wstring> codes, versions;
  std::vector<uint32_t> propertyResults;  // scripted results of the summary reads
  uint32_t messageId;
  std::wstring insert;
};

class ApplyPayloadEarlyFailure : public ApplyPayloadTest,
                                 public ::testing::WithParamInterface<EarlyFailure> {};

TEST_P(ApplyPayloadEarlyFailure, ShowsOneBoxAndLeavesNothing) {
  const EarlyFailure& c = GetParam();
  CarryPayload(kPayloadGlobal, c.codes, c.versions);
  installer.AddProduct(kB, L"Beta", L"1033", L"1.0");
  installer.scriptedPropertyResults = c.propertyResults;
  const PayloadRun run = Apply();
  EXPECT_EQ(run.outcome, PayloadOutcome::Failed);
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(c.messageId, c.insert)});
  EXPECT_TRUE(installer.configurations().empty());
  EXPECT_TRUE(run.products.empty());
  EXPECT_EQ(installer.openHandles(), 0);
  ExpectNoPayloadCopyLeft();
}

INSTANTIATE_TEST_SUITE_P(
    Table, ApplyPayloadEarlyFailure,
    ::testing::Values(
        EarlyFailure{"target_not_installed", std::wstring(kA), L"2.0;1.0", {}, 307, L""},
        EarlyFailure{"empty_code_list", std::wstring(), L"2.0;1.0", {}, 307, L""},
        EarlyFailure{
            "code_list_starting_with_semicolon", std::wstring(L";") + kB, L"2.0;1.0", {}, 307, L""},
        EarlyFailure{"versions_without_semicolon", std::wstring(kB), L"2.0.0.0", {}, 300, L"4316"},
        EarlyFailure{
            "versions_starting_with_semicolon", std::wstring(kB), L";1.0", {}, 300, L"4316"},
        EarlyFailure{"version_property_absent", std::wstring(kB), std::nullopt, {}, 300, L"4316"},
        EarlyFailure{"versions_unreadable", std::wstring(kB), L"2.0;1.0", {1627}, 300, L"1627"},
        EarlyFailure{"codes_unreadable", std::wstring(kB), L"2.0;1.0", {0, 1627}, 300, L"1627"}),
    [](const ::testing::TestParamInfo<EarlyFailure>& param) {
      return std::string(param.param.name);
    });

TEST_F(ApplyPayloadTest, EveryProductUpToDate) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB, L"2.1.30.0;2.0.10.0");
  installer.AddProduct(kA, L"Alpha", L"1031", L"2.1.30.0");
  installer.AddProduct(kB, L"Beta", L"1041", L"2,1,30,0");
  system.SetUserDefaultLocale(1049);
  const PayloadRun run = Apply();
  EXPECT_EQ(run.outcome, PayloadOutcome::Unnecessary);
  EXPECT_TRUE(system.boxes().empty());
  EXPECT_TRUE(installer.configurations().empty());
  EXPECT_EQ(system.localesSet().back(), kLocaleUserDefault);
  EXPECT_EQ(run.messages.language, 1049u);  // the closing message comes in the user's language
  EXPECT_EQ(run.messages.productName, L"Beta");
  EXPECT_EQ(run.products[0].plan.decision.decision, Decision::kUpToDate);
  EXPECT_EQ(run.products[1].plan.decision.decision, Decision::kUpToDate);
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, OneUpToDateAndOnePatched) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB, L"2.0.0.0;1.0.0.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"2.0.0.0");
  installer.AddProduct(kB, L"Beta", L"1031", L"1.0.0.0");
  const PayloadRun run = Apply();
  EXPECT_EQ(run.outcome, PayloadOutcome::Applied);
  EXPECT_EQ(ConfiguredCodes(), std::vector<std::wstring>{kB});
  EXPECT_EQ(run.messages.language, 1031u);  // the last record's language stays
  EXPECT_EQ(system.ThreadLocale(), 1031u);  // and the installer ran under it
  EXPECT_EQ(installer.configurations()[0].commandLine,
            L"PATCH=\"C:\\Temp\\MSP2\" REBOOTPROMPT=S FILESINUSETEXT=\"Bitte schliessen:\"");
}

TEST_F(ApplyPayloadTest, VersionNotCoveredShows308InTheProductsLanguage) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.1.30.0;2.0.10.0,2.1.0.0");
  installer.AddProduct(kA, L"Sample Suite", L"1031", L"2.0.5.0");
  EXPECT_EQ(Outcome(), PayloadOutcome::Failed);
  ASSERT_EQ(system.boxes().size(), 1u);
  EXPECT_EQ(system.boxes()[0].text, L"Falsche Version von Sample Suite");
  EXPECT_EQ(system.boxes()[0].caption, L"Installationsfehler");
  EXPECT_TRUE(installer.configurations().empty());
  ExpectNoPayloadCopyLeft();
}

// Windows Installer writes product versions with three parts; the fourth is 0.
TEST_F(ApplyPayloadTest, ThreePartVersions) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB + L";" + kC, L"2.1.31;2.1.29,2.1.30.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"2.1.30");
  installer.AddProduct(kB, L"Beta", L"1033", L"2.1.31");
  installer.AddProduct(kC, L"Gamma", L"1033", L"2.1.31.0");
  EXPECT_EQ(Apply().outcome, PayloadOutcome::Applied);
  EXPECT_EQ(ConfiguredCodes(), std::vector<std::wstring>{kA});
  EXPECT_TRUE(system.boxes().empty());
}

TEST_F(ApplyPayloadTest, ThreePartVersionNotCovered) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.1.31;2.1.30");
  installer.AddProduct(kA, L"Alpha", L"1033", L"2.1.3");
  EXPECT_EQ(Apply().outcome, PayloadOutcome::Failed);
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(308, L"Alpha")});
  EXPECT_TRUE(installer.configurations().empty());
}

struct InstallerResultCase {
  const char* name;
  uint32_t result;
  PayloadOutcome outcome;
};

class ApplyPayloadInstallerResult : public ApplyPayloadTest,
                                    public ::testing::WithParamInterface<InstallerResultCase> {};

TEST_P(ApplyPayloadInstallerResult, DecidesTheOutcomeAndTheBox) {
  const InstallerResultCase& c = GetParam();
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  installer.SetConfigureResult(kA, c.result);
  const PayloadRun run = Apply();
  EXPECT_EQ(run.outcome, c.outcome);
  EXPECT_EQ(run.products.at(0).installerResult, std::optional<uint32_t>(c.result));
  if (c.outcome == PayloadOutcome::Failed) {
    EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{
                              Text(300, std::to_wstring(static_cast<int32_t>(c.result)))});
  } else {
    EXPECT_TRUE(system.boxes().empty());
  }
  ExpectNoPayloadCopyLeft();
}

INSTANTIATE_TEST_SUITE_P(
    Table, ApplyPayloadInstallerResult,
    ::testing::Values(InstallerResultCase{"success", 0, PayloadOutcome::Applied},
                      InstallerResultCase{"reboot_initiated", 1641, PayloadOutcome::Applied},
                      InstallerResultCase{"reboot_required", 3010, PayloadOutcome::Applied},
                      InstallerResultCase{"install_failure", 1603, PayloadOutcome::Failed},
                      InstallerResultCase{"reboot_scheduled_is_no_success", 1642,
                                          PayloadOutcome::Failed},
                      InstallerResultCase{"all_bits_set", 0xFFFFFFFF, PayloadOutcome::Failed}),
    [](const ::testing::TestParamInfo<InstallerResultCase>& param) {
      return std::string(param.param.name);
    });

TEST_F(ApplyPayloadTest, FailedInstallDoesNotStopThePass) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB + L";" + kC, L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  installer.AddProduct(kB, L"Beta", L"1033", L"1.5.0.0");
  installer.AddProduct(kC, L"Gamma", L"1033", L"1.0");
  installer.SetConfigureResult(kA, 1603);
  const PayloadRun run = Apply();
  EXPECT_EQ(run.outcome, PayloadOutcome::Applied);
  EXPECT_EQ(ConfiguredCodes(), (std::vector<std::wstring>{kA, kC}));
  EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{Text(300, L"1603"), Text(308, L"Beta")}));
  ASSERT_EQ(run.products.size(), 3u);
  EXPECT_EQ(run.products[1].plan.decision.decision, Decision::kNotCovered);
  EXPECT_FALSE(run.products[1].installerResult.has_value());
}

TEST_F(ApplyPayloadTest, WalkMeetingTheUpgradeVersionFirstCountsAsUpToDateAndGoesOn) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB, L"2.1.30.0;2.0.10.0,2.1.30.0,2.2.0.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"2.2.0.0");
  installer.AddProduct(kB, L"Beta", L"1033", L"2.0.10.0");
  EXPECT_EQ(Outcome(), PayloadOutcome::Applied);
  EXPECT_EQ(ConfiguredCodes(), std::vector<std::wstring>{kB});
  EXPECT_TRUE(system.boxes().empty());

  CarryPayload(kPayloadLanguagePack, std::wstring(kA), L"2.1.30.0;2.0.10.0,2.1.30.0,2.2.0.0");
  EXPECT_EQ(Outcome(kLanguagePack), PayloadOutcome::Unnecessary);
  EXPECT_EQ(system.localesSet().back(), kLocaleUserDefault);
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, PackageTheServiceCannotOpen) {
  system.AddPayload(kPayloadGlobal, std::string("not a patch"));
  installer.summaryOpenError = 1627;
  EXPECT_EQ(Outcome(), PayloadOutcome::Failed);
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(300, L"1627")});
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, PayloadNotCarriedIsUnnecessaryAndSilent) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1031", L"1.0");
  ASSERT_EQ(Outcome(), PayloadOutcome::Applied);
  const size_t calls = installer.calls().size();
  const PayloadRun run = Apply(kProductSpecific);
  EXPECT_EQ(run.outcome, PayloadOutcome::Unnecessary);
  EXPECT_FALSE(run.carried);
  EXPECT_EQ(installer.calls().size(), calls);
  // The messages go on as the run before left them.
  EXPECT_EQ(run.messages.language, 1031u);
  EXPECT_EQ(run.messages.productName, L"Alpha");
  EXPECT_TRUE(system.boxes().empty());
}

TEST_F(ApplyPayloadTest, PayloadThatCannotBeWrittenFailsWithItsCode) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  system.SetFreeSpace(3);
  EXPECT_EQ(Apply().error, kErrorDiskFull);
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(300, L"112")});
  EXPECT_TRUE(installer.calls().empty());
  ExpectNoPayloadCopyLeft();

  // No temporary folder at all: the box tells "path not found", whatever the query's own error.
  system.SetFreeSpace(1 << 20);
  system.SetTempPathResult(0);
  EXPECT_EQ(Outcome(), PayloadOutcome::Failed);
  EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{Text(300, L"112"), Text(300, L"3")}));
}

TEST_F(ApplyPayloadTest, MessageProductNameIsSetByTheGlobalRunOnly) {
  CarryPayload(kPayloadLanguagePack, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.5.0.0");
  const PayloadRun run = Apply(kLanguagePack);
  EXPECT_EQ(run.outcome, PayloadOutcome::Failed);
  EXPECT_EQ(run.messages.productName, L"");
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(308, L"")});

  context.productName = L"From the global run";
  CarryPayload(kPayloadProductSpecific, std::wstring(kA), L"2.0;1.0");
  EXPECT_EQ(Outcome(kProductSpecific), PayloadOutcome::Failed);
  EXPECT_EQ(system.boxes().back().text, Text(308, L"From the global run"));
}

TEST_F(ApplyPayloadTest, SameProductNameGivesTheSameLogPath) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB, L"2.0;1.0");
  installer.AddProduct(kA, L"Suite", L"1033", L"1.0");
  installer.AddProduct(kB, L"Suite", L"1033", L"1.0");
  EXPECT_EQ(Outcome(), PayloadOutcome::Applied);
  ASSERT_EQ(installer.configurations().size(), 2u);
  EXPECT_EQ(installer.configurations()[0].logFile, L"C:\\Temp\\Suite SP1.log");
  EXPECT_EQ(installer.configurations()[1].logFile, L"C:\\Temp\\Suite SP1.log");
  EXPECT_EQ(installer.logAttributes(), 0u);  // replaced, never appended
}

TEST_F(ApplyPayloadTest, SetsTheThreadLocaleFromEachLanguage) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB + L";" + kC, L"2.0;1.0");
  installer.AddProduct(kA, L"A", L" 1041", L"1.0");
  installer.AddProduct(kB, L"B", L"abc", L"1.0");
  installer.AddProduct(kC, L"C", L"1031x", L"1.0");
  system.SetUserDefaultLocale(1049);
  const PayloadRun run = Apply();
  // Entered while planning, which learns the locale in force, then for each product's turn.
  EXPECT_EQ(system.localesSet(), (std::vector<uint32_t>{1041, 0, 1031, 1041, 1049, 1031}));
  // The languages the products' texts came in: 0 stands for the user's default.
  std::vector<uint32_t> languages;
  for (const ProductRun& productRun : run.products) languages.push_back(productRun.plan.locale);
  EXPECT_EQ(languages, (std::vector<uint32_t>{1041, 1049, 1031}));
}

TEST_F(ApplyPayloadTest, LongTemporaryFolder) {
  // The patch path stays within 260 characters: the product is patched, its log path fits.
  system.SetElevated(false);  // the log in the user's temporary folder, wherever it is
  const std::wstring folder = L"C:\\" + std::wstring(240, L't');
  system.AddDirectory(folder);
  system.SetTempPath(folder + L"\\");
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, std::wstring(100, L'N'), L"1033", L"1.0");
  EXPECT_EQ(Outcome(), PayloadOutcome::Applied);
  ASSERT_EQ(installer.configurations().size(), 1u);
  const auto& call = installer.configurations()[0];
  EXPECT_EQ(call.logFile.size(), 259u);
  EXPECT_EQ(call.logFile.substr(0, folder.size() + 1), folder + L"\\");
  EXPECT_NE(call.commandLine.find(L"PATCH=\"" + folder + L"\\MSP2\""), std::wstring::npos);
}

TEST_F(ApplyPayloadTest, PayloadPathBeyond260CharactersIsNotRead) {
  const std::wstring folder = L"C:\\" + std::wstring(300, L't');
  system.AddDirectory(folder);
  system.SetTempPath(folder + L"\\");
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  EXPECT_EQ(Outcome(), PayloadOutcome::Failed);
  EXPECT_TRUE(installer.configurations().empty());
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(300, L"206")});
  EXPECT_TRUE(system.FilesUnder(folder).empty());
}

TEST_F(ApplyPayloadTest, PayloadIsHeldReadOnlyWhileTheInstallerRuns) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  bool heldDuringInstall = false;
  installer.onConfigure = [this, &heldDuringInstall](const std::wstring&) {
    heldDuringInstall = system.IsHeld(L"C:\\Temp\\MSP2");
  };
  EXPECT_EQ(Outcome(), PayloadOutcome::Applied);
  EXPECT_TRUE(heldDuringInstall);
  EXPECT_FALSE(system.IsHeld(L"C:\\Temp\\MSP2"));
  EXPECT_EQ(system.openFiles(), 0);
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, PayloadThatCannotBeHeldIsNotInstalled) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  system.failKeepReadOnly = true;  // another process holds it open for writing
  EXPECT_EQ(Outcome(), PayloadOutcome::Failed);
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(300, L"32")});
  EXPECT_TRUE(installer.calls().empty());
  ExpectNoPayloadCopyLeft();
}

// The installer log is made once, by the handle that is then held: it shares reading and
// writing (the installer service writes the log) and never deleting, from before the first call
// until the last retry has returned.
TEST_F(ApplyPayloadTest, TheLogIsHeldByTheHandleThatMadeItUntilTheLastCallReturns) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  installer.scriptedConfigureResults = {kErrorInstallAlreadyRunning, 0};
  const std::wstring log = L"C:\\Temp\\Alpha SP1.log";
  std::vector<bool> heldAtCalls;
  installer.onConfigure = [&](const std::wstring&) {
    heldAtCalls.push_back(system.IsHeldForWriter(log));
  };
  EXPECT_EQ(Outcome(), PayloadOutcome::Applied);
  EXPECT_EQ(heldAtCalls, (std::vector<bool>{true, true}));
  EXPECT_FALSE(system.IsHeldForWriter(log));
  EXPECT_EQ(system.openFiles(), 0);
  // One opening of the log, no second one by name.
  size_t openings = 0;
  for (const auto& [path, made] : system.creations()) openings += path == log ? 1 : 0;
  EXPECT_EQ(openings, 1u);
}

// A reader another process opened on the log's name before the run: where it shares writing the
// hold is made beside it (and then refuses every deleting opening); where it does not, no hold can
// be made and the installer gets no log path at all, the refusal told.
TEST_F(ApplyPayloadTest, AReaderPlantedAtTheLogsNameNeverLeavesALogNobodyHolds) {
  class Refusals : public IgnoringEvents {
   public:
    void InstallerLogRefused(const ProductRun&, const std::wstring& path, uint32_t error) override {
      told.emplace_back(path, error);
    }
    std::vector<std::pair<std::wstring, uint32_t>> told;
  };
  struct Case {
    const char* what;
    bool planted;
    bool sharesWriting;
    bool logged;
  };
  const std::wstring log = L"C:\\Temp\\Alpha SP1.log";
  for (const Case& c :
       {Case{"no reader", false, false, true}, Case{"a reader sharing writing", true, true, true},
        Case{"a reader sharing nothing", true, false, false}}) {
    SCOPED_TRACE(c.what);
    testing::FakePlatform fresh;
    fresh.CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
    fresh.installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
    fresh.system.AddFile(log, "an earlier log");
    if (c.planted) fresh.system.PlantReader(log, c.sharesWriting);
    bool heldAtCall = false;
    fresh.installer.onConfigure = [&](const std::wstring&) {
      heldAtCall = fresh.system.IsHeldForWriter(log);
    };
    Refusals events;
    PayloadStore freshStore{fresh.system};
    MessageBoxes freshMessages{fresh.system, false};
    PayloadApplier freshApplier{fresh.system, fresh.installer, freshStore, freshMessages, events};
    freshApplier.SetOptions(PlacedOptions(fresh.system));
    const PayloadRun run = freshApplier.ApplyPayload(kGlobal, {1033, L"", 0});
    EXPECT_EQ(run.outcome, PayloadOutcome::Applied);  // patched either way
    ASSERT_EQ(fresh.installer.configurations().size(), 1u);
    const auto& call = fresh.installer.configurations()[0];
    EXPECT_EQ(heldAtCall, c.logged);
    EXPECT_EQ(call.logFile, c.logged ? log : L"");
    EXPECT_EQ(call.logMode, c.logged ? kInstallLogModeVerbose : 0u);
    EXPECT_EQ(run.products[0].logPath, call.logFile);
    EXPECT_EQ(fresh.system.ContentOf(log), c.logged ? "" : "an earlier log");
    using Told = std::vector<std::pair<std::wstring, uint32_t>>;
    const Told expected = c.logged ? Told{} : Told{{log, kErrorSharingViolation}};
    EXPECT_EQ(events.told, expected);
  }
}

// Elevated, the registrations are read again right before every installer call: an unmanaged
// per-user registration of the code made after detection (during the wait for a busy installer,
// or between a 1618 and its retry) holds the product back exactly as one found at detection (307
// when no other target is left; with /exitcode 1642), and a listing that fails then does too.
TEST_F(ApplyPayloadTest, ARegistrationMadeAfterDetectionHoldsTheProductBackAtItsCall) {
  enum class When { kBeforeTheRun, kDuringTheWait, kBeforeTheRetry, kListingFailsAtTheCall };
  struct Case {
    const char* what;
    When when;
    bool beside;  // a second target, Beta, that is patched all the same
    size_t calls;
  };
  const Case cases[] = {
      {"before the run (detection)", When::kBeforeTheRun, false, 0},
      {"during the wait", When::kDuringTheWait, false, 0},
      {"between a 1618 and its retry", When::kBeforeTheRetry, false, 1},
      {"the listing fails at the call", When::kListingFailsAtTheCall, false, 0},
      {"during the wait, beside a target patched", When::kDuringTheWait, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::FakePlatform fresh;
    fresh.CarryPayload(kPayloadGlobal,
                       std::wstring(kA) + (c.beside ? L";" + std::wstring(kB) : L""), L"2.0;1.0");
    fresh.installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
    if (c.beside) fresh.installer.AddProduct(kB, L"Beta", L"1033", L"1.0");
    const auto plant = [&fresh] {
      fresh.installer.AddRegistration(kA, kInstallContextUserUnmanaged, L"S-1-5-21-7", L"Alpha",
                                      L"1033", L"1.0");
    };
    switch (c.when) {
      case When::kBeforeTheRun:
        plant();
        break;
      case When::kDuringTheWait:
        fresh.system.HoldMutexUntil(kInstallerMutex, 3000);
        fresh.system.onPause = [&](uint32_t) { plant(); };
        break;
      case When::kBeforeTheRetry:
        fresh.installer.scriptedConfigureResults = {kErrorInstallAlreadyRunning, 0};
        fresh.installer.onConfigure = [&](const std::wstring&) { plant(); };
        break;
      case When::kListingFailsAtTheCall:
        fresh.system.HoldMutexUntil(kInstallerMutex, 3000);
        fresh.system.onPause = [&](uint32_t) {
          fresh.installer.enumFailure = std::pair<uint32_t, uint32_t>{0, 1610};
        };
        break;
    }
    PayloadStore freshStore{fresh.system};
    MessageBoxes freshMessages{fresh.system, false};
    PayloadApplier freshApplier{fresh.system, fresh.installer, freshStore, freshMessages};
    freshApplier.SetOptions(PlacedOptions(fresh.system));
    const PayloadRun run = freshApplier.ApplyPayload(kGlobal, {1033, L"", 0});
    size_t callsOfA = 0;
    for (const auto& call : fresh.installer.configurations()) callsOfA += call.productCode == kA;
    EXPECT_EQ(callsOfA, c.when == When::kBeforeTheRetry ? 1u : 0u);
    EXPECT_EQ(fresh.installer.configurations().size(), c.calls);
    if (c.beside) {
      EXPECT_EQ(run.outcome, PayloadOutcome::Applied);
      ASSERT_EQ(run.products.size(), 1u);
      EXPECT_EQ(run.products[0].plan.product.productCode, kB);
      EXPECT_TRUE(fresh.system.boxes().empty());
    } else {
      EXPECT_EQ(run.outcome, PayloadOutcome::Failed);
      EXPECT_EQ(run.failure, PayloadFailure::kNoTargetInstalled);
      EXPECT_TRUE(run.products.empty());
      EXPECT_EQ(fresh.BoxTexts(), std::vector<std::wstring>{fresh.MessageText(kMsgNoProduct)});
    }
    EXPECT_TRUE(fresh.system.PayloadCopies().empty());
    EXPECT_EQ(fresh.system.openFiles(), 0);
  }
}

// Not elevated the call takes this user's own registration, which is what the user asked for:
// nothing is listed again.
TEST_F(ApplyPayloadTest, NotElevatedTheRegistrationsAreNotListedAtTheCall) {
  system.SetElevated(false);
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  EXPECT_EQ(Outcome(), PayloadOutcome::Applied);
  for (const std::wstring& call : installer.calls()) {
    EXPECT_EQ(call.rfind(L"EnumProductsEx", 0), std::wstring::npos) << call;
  }
}

TEST_F(ApplyPayloadTest, LanguageThatNamesNoLocaleFallsBackToTheUsersLanguage) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB, L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1031", L"1.5.0.0");
  installer.AddProduct(kB, L"Beta", L"99999", L"1.5.0.0");
  EXPECT_EQ(Outcome(), PayloadOutcome::Failed);
  ASSERT_EQ(system.boxes().size(), 2u);
  EXPECT_EQ(system.boxes()[0].text, L"Falsche Version von Alpha");
  EXPECT_EQ(system.boxes()[1].text, Text(308, L"Beta"));  // not in Alpha's German
}

TEST(ApplyPayloadTmp, RelativeTmpIsRefusedAndNothingLandsInTheStartingFolder) {
  // GetTempPathW would make a folder of the current one from any of these.
  for (const wchar_t* tmp : {L".", L"rel", L"C:rel", L"\\rel", L".\\"}) {
    testing::FakePlatform fresh;
    fresh.system.AddDirectory(L"rel");
    fresh.system.AddDirectory(L".");
    fresh.system.AddDirectory(L"C:\\Work");
    fresh.system.SetEnvironment(L"TMP", tmp);
    fresh.CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
    fresh.installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
    PayloadStore store{fresh.system};
    MessageBoxes messages{fresh.system, false};
    PayloadApplier applier{fresh.system, fresh.installer, store, messages};
    applier.SetOptions(PlacedOptions(fresh.system));
    const PayloadRun run = applier.ApplyPayload(kGlobal, {1033, L"", 0});
    EXPECT_EQ(run.outcome, PayloadOutcome::Failed) << tmp;
    EXPECT_EQ(run.error, kErrorBadPathname) << tmp;
    ASSERT_EQ(fresh.system.boxes().size(), 1u) << tmp;
    EXPECT_EQ(fresh.system.boxes()[0].text,
              fresh.MessageText(kMsgFailure, std::to_wstring(kErrorBadPathname)))
        << tmp;
    EXPECT_TRUE(fresh.system.creations().empty()) << tmp;
    EXPECT_TRUE(fresh.installer.configurations().empty()) << tmp;
  }
}

TEST(BuildLogPath, DeviceStemsAreEscapedIntoFileNames) {
  struct Case {
    std::wstring product;
    std::wstring expected;
  };
  const Case cases[] = {
      {L"NUL.x", L"C:\\Temp\\_NUL.x SP1.log"},
      {L"COM1 .x", L"C:\\Temp\\_COM1 .x SP1.log"},
      {L"CONIN$.x", L"C:\\Temp\\_CONIN$.x SP1.log"},
      {L"nul", L"C:\\Temp\\nul SP1.log"},  // the stem is "nul SP1": a file
      {L"aux.", L"C:\\Temp\\_aux. SP1.log"},
      {L"LPT\u00B9.x", L"C:\\Temp\\_LPT\u00B9.x SP1.log"},
      {L"Null Suite", L"C:\\Temp\\Null Suite SP1.log"},
      {L"COM10.x", L"C:\\Temp\\COM10.x SP1.log"},
  };
  for (const Case& c : cases) EXPECT_EQ(BuildLogPath(L"C:\\Temp", c.product), c.expected);
  // A name cut to fit never ends up a device either: the escape takes one more character off.
  const std::wstring folder(259 - 1 - 8 - 5, L'w');
  EXPECT_EQ(BuildLogPath(folder, L"AUX.x long name"), folder + L"\\_AUX. SP1.log");
}

TEST(BuildLogPath, Cases) {
  EXPECT_EQ(BuildLogPath(L"C:\\Temp", L"Sample Suite"), L"C:\\Temp\\Sample Suite SP1.log");
  EXPECT_EQ(BuildLogPath(L"c:", L"Suite"), L"c:\\Suite SP1.log");
  EXPECT_EQ(BuildLogPath(L"C:\\Temp", L"..\\..\\Windows\\evil"),
            L"C:\\Temp\\.._.._Windows_evil SP1.log");
  EXPECT_EQ(BuildLogPath(L"C:\\Temp", L"A/B:C*D?E\"F<G>H|I\nJ"),
            L"C:\\Temp\\A_B_C_D_E_F_G_H_I_J SP1.log");
  const std::wstring longPath = BuildLogPath(L"C:\\Temp", std::wstring(1000, L'N'));
  EXPECT_EQ(longPath.size(), 259u);
  EXPECT_EQ(longPath.substr(longPath.size() - 8), L" SP1.log");
  EXPECT_EQ(BuildLogPath(std::wstring(251, L'w'), L"Suite"), L"");  // not even the fixed part fits
  EXPECT_EQ(BuildLogPath(std::wstring(250, L'w'), L"Suite"),
            std::wstring(250, L'w') + L"\\ SP1.log");
}

TEST(BuildPatchCommandLine, LongestLineOfAnyLanguageFitsTheInstallersRoom) {
  // The longest payload path that can be read (259 characters) with text 315 of each table.
  const std::wstring path = L"C:\\" + std::wstring(256, L'p');
  size_t longest = 0;
  for (int language :
       {1028, 1029, 1031, 1033, 1036, 1038, 1040, 1041, 1042, 1045, 1046, 1049, 2052, 3082}) {
    const std::wstring filesInUse =
        testing::ReadStringTable(static_cast<uint16_t>(language)).at(kTextFilesInUse);
    EXPECT_EQ(filesInUse.find(L'"'), std::wstring::npos) << language;  // nothing to escape
    longest = std::max(longest, BuildPatchCommandLine(path, filesInUse).size());
  }
  EXPECT_LT(longest, 1024u);
  EXPECT_GT(longest, 259u + 50u);  // the texts were really there
}

}  // namespace
}  // namespace updater
