#include <gtest/gtest.h>

#include "apply/apply_payload.h"
#include "messages/catalogue.h"
#include "tests/fakes/fake_installer.h"
#include "tests/fakes/fake_system.h"
#include "tests/fakes/string_tables.h"

namespace updater {
namespace {

using testing::FakeInstaller;
using testing::FakeSystem;

constexpr wchar_t kA[] = L"{AAAAAAAA-0000-0000-0000-000000000001}";
constexpr wchar_t kB[] = L"{BBBBBBBB-0000-0000-0000-000000000002}";
constexpr wchar_t kC[] = L"{CCCCCCCC-0000-0000-0000-000000000003}";

class ApplyPayloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::LoadStringTable(system, 1033);
    system.AddStringTable(1031, {{300, L"Fehler %d"},
                                 {308, L"Falsche Version von %s"},
                                 {311, L"Installationsfehler"},
                                 {315, L"Bitte schliessen:"}});
    system.SetUserDefaultLocale(1033);
    installer.readFile = [this](const std::wstring& path) { return system.ReadFile(path); };
  }

  // Carries a global payload with these summary properties.
  void CarryPayload(const std::wstring& resource, std::optional<std::wstring> codes,
                    std::optional<std::wstring> versions) {
    const std::string content = "MSP:" + std::string(resource.begin(), resource.end());
    system.AddPayload(resource, content);
    installer.AddPackageContent(content, codes, versions);
  }

  PayloadOutcome Apply(const std::wstring& resource = kPayloadGlobal, bool isGlobal = true) {
    return applier.ApplyPayload(resource, kMsgFailure, isGlobal);
  }

  std::vector<std::wstring> BoxTexts() const {
    std::vector<std::wstring> texts;
    for (const auto& box : system.boxes()) texts.push_back(box.text);
    return texts;
  }
  std::vector<std::wstring> ConfiguredCodes() const {
    std::vector<std::wstring> codes;
    for (const auto& configuration : installer.configurations())
      codes.push_back(configuration.productCode);
    return codes;
  }
  std::wstring Text(uint32_t id, const std::wstring& insert = L"") {
    std::wstring format;
    LoadText(system, id, format, 256);
    const size_t at = format.find(L'%');
    return at == std::wstring::npos ? format
                                    : format.substr(0, at) + insert + format.substr(at + 2);
  }
  void ExpectNoPayloadCopyLeft() { EXPECT_TRUE(system.PayloadCopies().empty()); }

  FakeSystem system;
  FakeInstaller installer;
  bool quiet = false;
  PayloadStore store{system};
  MessageBoxes messages{system, quiet};
  PayloadApplier applier{system, installer, store, messages};
};

TEST_F(ApplyPayloadTest, PatchesAnInstalledTargetVersion) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.1.30.0;2.0.10.0,2.1.0.0");
  installer.AddProduct(kA, L"Sample Suite", L"1033", L"2.1.0.0");
  installer.SetConfigureResult(kA, kErrorSuccessRebootRequired);

  EXPECT_EQ(Apply(), PayloadOutcome::Applied);
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
  EXPECT_EQ(applier.applicableProducts().at(0).commandLine, call.commandLine);
  EXPECT_EQ(messages.messageProductName(), L"Sample Suite");
  ExpectNoPayloadCopyLeft();

  // The installer calls of one product, in order.
  std::vector<std::wstring> tail(installer.calls().end() - 4, installer.calls().end());
  EXPECT_EQ(tail, (std::vector<std::wstring>{L"EnableLog", L"SetInternalUI 35",
                                             std::wstring(L"ConfigureProductEx ") + kA,
                                             L"SetInternalUI 5"}));
}

TEST_F(ApplyPayloadTest, KeepsOnlyInstalledTargetsInTheirOrder) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB + L";" + kC, L"2.0;1.0");
  installer.AddProduct(kC, L"Gamma", L"1033", L"1.0");
  installer.AddProduct(kB, L"Beta", L"1033", L"1.0", /*state=*/2);  // another user's
  EXPECT_EQ(Apply(), PayloadOutcome::Applied);
  ASSERT_EQ(applier.applicableProducts().size(), 1u);
  EXPECT_EQ(applier.applicableProducts()[0].productCode, kC);
  EXPECT_EQ(installer.queriedStates(), 3u);
  EXPECT_TRUE(system.boxes().empty());
}

TEST_F(ApplyPayloadTest, CodeListEndsAtTheFirstEmptyEntry) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";;" + kB, L"2.0;1.0");
  installer.AddProduct(kB, L"Beta", L"1033", L"1.0");
  EXPECT_EQ(Apply(), PayloadOutcome::Failed);
  EXPECT_EQ(installer.queriedStates(), 1u);  // only A was examined
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(307)});
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, NoTargetInstalledShows307) {
  for (std::wstring codes : {std::wstring(kA), std::wstring(), std::wstring(L";") + kA}) {
    FakeSystem& s = system;
    const size_t before = s.boxes().size();
    CarryPayload(kPayloadGlobal, codes, L"2.0;1.0");
    EXPECT_EQ(Apply(), PayloadOutcome::Failed);
    ASSERT_EQ(s.boxes().size(), before + 1);
    EXPECT_EQ(s.boxes().back().text, Text(307));
  }
  EXPECT_TRUE(installer.configurations().empty());
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, EveryProductUpToDate) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB, L"2.1.30.0;2.0.10.0");
  installer.AddProduct(kA, L"Alpha", L"1031", L"2.1.30.0");
  installer.AddProduct(kB, L"Beta", L"1041", L"2,1,30,0");
  system.SetUserDefaultLocale(1049);
  EXPECT_EQ(Apply(), PayloadOutcome::Unnecessary);
  EXPECT_TRUE(system.boxes().empty());
  EXPECT_TRUE(installer.configurations().empty());
  EXPECT_EQ(system.localesSet().back(), kLocaleUserDefault);
  EXPECT_EQ(system.ThreadLocale(), 1049u);
  EXPECT_EQ(messages.messageProductName(), L"Beta");
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, OneUpToDateAndOnePatched) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB, L"2.0.0.0;1.0.0.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"2.0.0.0");
  installer.AddProduct(kB, L"Beta", L"1031", L"1.0.0.0");
  EXPECT_EQ(Apply(), PayloadOutcome::Applied);
  EXPECT_EQ(ConfiguredCodes(), std::vector<std::wstring>{kB});
  EXPECT_EQ(system.ThreadLocale(), 1031u);  // the last record's language stays
  EXPECT_EQ(installer.configurations()[0].commandLine,
            L"PATCH=\"C:\\Temp\\MSP2\" REBOOTPROMPT=S FILESINUSETEXT=\"Bitte schliessen:\"");
}

TEST_F(ApplyPayloadTest, VersionNotCoveredShows308InTheProductsLanguage) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.1.30.0;2.0.10.0,2.1.0.0");
  installer.AddProduct(kA, L"Sample Suite", L"1031", L"2.0.5.0");
  EXPECT_EQ(Apply(), PayloadOutcome::Failed);
  ASSERT_EQ(system.boxes().size(), 1u);
  EXPECT_EQ(system.boxes()[0].text, L"Falsche Version von Sample Suite");
  EXPECT_EQ(system.boxes()[0].caption, L"Installationsfehler");
  EXPECT_TRUE(installer.configurations().empty());
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, InstallerResults) {
  const std::pair<uint32_t, PayloadOutcome> cases[] = {
      {0, PayloadOutcome::Applied},    {1641, PayloadOutcome::Applied},
      {3010, PayloadOutcome::Applied}, {1603, PayloadOutcome::Failed},
      {1642, PayloadOutcome::Failed},  {0xFFFFFFFF, PayloadOutcome::Failed}};
  for (auto [result, outcome] : cases) {
    const size_t before = system.boxes().size();
    CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
    installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
    installer.SetConfigureResult(kA, result);
    EXPECT_EQ(Apply(), outcome) << result;
    if (outcome == PayloadOutcome::Failed) {
      ASSERT_EQ(system.boxes().size(), before + 1) << result;
      EXPECT_EQ(system.boxes().back().text,
                Text(300, std::to_wstring(static_cast<int32_t>(result))));
    } else {
      EXPECT_EQ(system.boxes().size(), before) << result;
    }
  }
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, FailedInstallDoesNotStopThePass) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB + L";" + kC, L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  installer.AddProduct(kB, L"Beta", L"1033", L"1.5.0.0");
  installer.AddProduct(kC, L"Gamma", L"1033", L"1.0");
  installer.SetConfigureResult(kA, 1603);
  EXPECT_EQ(Apply(), PayloadOutcome::Applied);
  EXPECT_EQ(ConfiguredCodes(), (std::vector<std::wstring>{kA, kC}));
  EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{Text(300, L"1603"), Text(308, L"Beta")}));
}

TEST_F(ApplyPayloadTest, WalkMeetingTheUpgradeVersionFirstCountsAsUpToDateAndGoesOn) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB, L"2.1.30.0;2.0.10.0,2.1.30.0,2.2.0.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"2.2.0.0");
  installer.AddProduct(kB, L"Beta", L"1033", L"2.0.10.0");
  EXPECT_EQ(Apply(), PayloadOutcome::Applied);
  EXPECT_EQ(ConfiguredCodes(), std::vector<std::wstring>{kB});
  EXPECT_TRUE(system.boxes().empty());

  CarryPayload(kPayloadLanguagePack, std::wstring(kA), L"2.1.30.0;2.0.10.0,2.1.30.0,2.2.0.0");
  EXPECT_EQ(Apply(kPayloadLanguagePack, false), PayloadOutcome::Unnecessary);
  EXPECT_EQ(system.localesSet().back(), kLocaleUserDefault);
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, UnreadableVersionsOrCodesShowTheFailureWithItsCode) {
  struct Case {
    const char* what;
    std::optional<std::wstring> codes, versions;
    std::vector<uint32_t> script;
    std::wstring code;
  };
  const Case cases[] = {
      {"no semicolon", std::wstring(kA), L"2.0.0.0", {}, L"4316"},
      {"semicolon first", std::wstring(kA), L";1.0", {}, L"4316"},
      {"version property absent", std::wstring(kA), std::nullopt, {}, L"4316"},
      {"codes unreadable", std::wstring(kA), L"2.0;1.0", {0, 1627}, L"1627"},
  };
  for (const Case& c : cases) {
    CarryPayload(kPayloadGlobal, c.codes, c.versions);
    installer.scriptedPropertyResults = c.script;
    system.SetLastErrorCode(0);
    const size_t before = system.boxes().size();
    EXPECT_EQ(Apply(), PayloadOutcome::Failed) << c.what;
    ASSERT_EQ(system.boxes().size(), before + 1) << c.what;
    EXPECT_EQ(system.boxes().back().text, Text(300, c.code)) << c.what;
  }
  EXPECT_EQ(installer.openHandles(), 0);
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, PackageTheServiceCannotOpen) {
  system.AddPayload(kPayloadGlobal, std::string("not a patch"));
  installer.summaryOpenError = 1627;
  EXPECT_EQ(Apply(), PayloadOutcome::Failed);
  ASSERT_EQ(system.boxes().size(), 1u);
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, PayloadNotCarriedIsUnnecessaryAndSilent) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  ASSERT_EQ(Apply(), PayloadOutcome::Applied);
  const size_t calls = installer.calls().size();
  EXPECT_EQ(Apply(kPayloadProductSpecific, false), PayloadOutcome::Unnecessary);
  EXPECT_EQ(installer.calls().size(), calls);
  EXPECT_EQ(applier.applicableProducts().size(), 1u);  // the list of the last real run stays
  EXPECT_TRUE(system.boxes().empty());
}

TEST_F(ApplyPayloadTest, PayloadThatCannotBeWrittenFailsWithItsCode) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  system.SetFreeSpace(3);
  EXPECT_EQ(Apply(), PayloadOutcome::Failed);
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(300, L"112")});
  EXPECT_TRUE(installer.calls().empty());
  ExpectNoPayloadCopyLeft();

  system.SetFreeSpace(1 << 20);
  system.SetTempPathResult(0);  // no temporary folder at all
  EXPECT_EQ(Apply(), PayloadOutcome::Failed);
  EXPECT_EQ(system.boxes().size(), 2u);
}

TEST_F(ApplyPayloadTest, MessageProductNameIsSetByTheGlobalRunOnly) {
  CarryPayload(kPayloadLanguagePack, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.5.0.0");
  EXPECT_EQ(Apply(kPayloadLanguagePack, false), PayloadOutcome::Failed);
  EXPECT_EQ(messages.messageProductName(), L"");
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(308, L"")});

  messages.SetMessageProductName(L"From the global run");
  CarryPayload(kPayloadProductSpecific, std::wstring(kA), L"2.0;1.0");
  EXPECT_EQ(Apply(kPayloadProductSpecific, false), PayloadOutcome::Failed);
  EXPECT_EQ(system.boxes().back().text, Text(308, L"From the global run"));
}

TEST_F(ApplyPayloadTest, SameProductNameGivesTheSameLogPath) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB, L"2.0;1.0");
  installer.AddProduct(kA, L"Suite", L"1033", L"1.0");
  installer.AddProduct(kB, L"Suite", L"1033", L"1.0");
  EXPECT_EQ(Apply(), PayloadOutcome::Applied);
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
  Apply();
  EXPECT_EQ(system.localesSet(), (std::vector<uint32_t>{1041, 0, 1031}));
}

TEST_F(ApplyPayloadTest, LongTemporaryFolder) {
  // The patch path stays within 260 characters: the product is patched, its log path fits.
  const std::wstring folder = L"C:\\" + std::wstring(240, L't');
  system.AddDirectory(folder);
  system.SetTempPath(folder + L"\\");
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, std::wstring(100, L'N'), L"1033", L"1.0");
  EXPECT_EQ(Apply(), PayloadOutcome::Applied);
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
  EXPECT_EQ(Apply(), PayloadOutcome::Failed);
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
  EXPECT_EQ(Apply(), PayloadOutcome::Applied);
  EXPECT_TRUE(heldDuringInstall);
  EXPECT_FALSE(system.IsHeld(L"C:\\Temp\\MSP2"));
  EXPECT_EQ(system.openFiles(), 0);
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, PayloadThatCannotBeHeldIsNotInstalled) {
  CarryPayload(kPayloadGlobal, std::wstring(kA), L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1033", L"1.0");
  system.failKeepReadOnly = true;  // another process holds it open for writing
  EXPECT_EQ(Apply(), PayloadOutcome::Failed);
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{Text(300, L"32")});
  EXPECT_TRUE(installer.calls().empty());
  ExpectNoPayloadCopyLeft();
}

TEST_F(ApplyPayloadTest, LanguageThatNamesNoLocaleFallsBackToTheUsersLanguage) {
  CarryPayload(kPayloadGlobal, std::wstring(kA) + L";" + kB, L"2.0;1.0");
  installer.AddProduct(kA, L"Alpha", L"1031", L"1.5.0.0");
  installer.AddProduct(kB, L"Beta", L"99999", L"1.5.0.0");
  EXPECT_EQ(Apply(), PayloadOutcome::Failed);
  ASSERT_EQ(system.boxes().size(), 2u);
  EXPECT_EQ(system.boxes()[0].text, L"Falsche Version von Alpha");
  EXPECT_EQ(system.boxes()[1].text, Text(308, L"Beta"));  // not in Alpha's German
}

TEST_F(ApplyPayloadTest, RelativeTmpIsRefusedAndNothingLandsInTheStartingFolder) {
  // GetTempPathW would make a folder of the current one from any of these.
  for (const wchar_t* tmp : {L".", L"rel", L"C:rel", L"\\rel", L".\\"}) {
    FakeSystem fresh;
    testing::LoadStringTable(fresh, 1033);
    fresh.AddDirectory(L"rel");
    fresh.AddDirectory(L".");
    fresh.AddDirectory(L"C:\\Work");
    fresh.SetEnvironment(L"TMP", tmp);
    FakeInstaller freshInstaller;
    const std::string content = "MSP:global";
    fresh.AddPayload(kPayloadGlobal, content);
    freshInstaller.AddPackageContent(content, std::wstring(kA), L"2.0;1.0");
    freshInstaller.AddProduct(kA, L"Alpha", L"1033", L"1.0");
    PayloadStore freshStore{fresh};
    MessageBoxes freshMessages{fresh, quiet};
    PayloadApplier freshApplier{fresh, freshInstaller, freshStore, freshMessages};
    EXPECT_EQ(freshApplier.ApplyPayload(kPayloadGlobal, kMsgFailure, true), PayloadOutcome::Failed)
        << tmp;
    ASSERT_EQ(fresh.boxes().size(), 1u) << tmp;
    EXPECT_EQ(fresh.boxes()[0].text, Text(300, std::to_wstring(kErrorBadPathname))) << tmp;
    EXPECT_TRUE(fresh.creations().empty()) << tmp;
    EXPECT_TRUE(freshInstaller.configurations().empty()) << tmp;
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

}  // namespace
}  // namespace updater
