// The run's places against the fakes: the private folder, the user's temporary folder, the
// temporary-name loop, the safe log and the device names.
#include <gtest/gtest.h>

#include "payload/run_places.h"

#include "apply/apply_payload.h"
#include "apply/log_name.h"
#include "launcher/entry.h"
#include "messages/catalogue.h"
#include "payload/log_folder.h"
#include "payload/payload_store.h"
#include "payload/private_folder.h"
#include "payload/user_temp_folder.h"
#include "tests/fakes/fake_installer.h"
#include "tests/fakes/fake_system.h"
#include "tests/fakes/string_tables.h"

namespace updater {
namespace {

using testing::FakeInstaller;
using testing::FakeSystem;

// ChooseLogFolder from the places a run works out first.
FolderChoice LogFolder(FakeSystem& system, bool elevated) {
  const FolderChoice userTemp = ChooseUserTempFolder(system);
  return ChooseLogFolder(system, elevated, userTemp, ChoosePrivateRoot(system, elevated, userTemp));
}

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
  std::vector<std::byte> bytes;
  for (int v : values) bytes.push_back(static_cast<std::byte>(v));
  return bytes;
}

constexpr wchar_t kFirstPrivate[] =
    L"C:\\Windows\\Temp\\QuorvexUpdate-00000000000000000000000000000000";

// ------------------------------------------------------------------------------ device names

TEST(DeviceNames, Table) {
  struct Case {
    const wchar_t* name;
    bool device;
  };
  const Case cases[] = {
      {L"NUL.x SP1.log", true},
      {L"COM1 .x SP1.log", true},
      {L"CONIN$.x SP1.log", true},
      {L"conout$", true},
      {L"con", true},
      {L"Prn.txt", true},
      {L"aux. .txt", true},
      {L"LPT9.log", true},
      {L"COM0", true},
      {L"COM\u00B2.a", true},
      {L"NUL   ", true},
      {L"lpt1.", true},
      {L"NUL SP1.log", false},
      {L"COM10.x", false},
      {L"CONIN.x", false},
      {L"_NUL.x SP1.log", false},
      {L"NULL.x", false},
      {L"COMA.x", false},
      {L"Sample Suite SP1.log", false},
      {L"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsDeviceName(c.name), c.device) << c.name;
}

// ------------------------------------------------------------------------ user's temp folder

TEST(UserTempFolder, Table) {
  struct Case {
    const char* what;
    std::optional<std::wstring> tmp;
    std::wstring tempPath;
    std::wstring folder;  // empty: none, error below
    uint32_t error;
  };
  const Case cases[] = {
      {"TMP an existing folder", L"D:\\Scratch", L"C:\\Temp\\", L"D:\\Scratch", 0},
      {"TMP unset", std::nullopt, L"C:\\Temp\\", L"C:\\Temp", 0},
      {"TMP empty", L"", L"C:\\Temp\\", L"C:\\Temp", 0},
      {"TMP missing, temp folder there", L"D:\\Gone", L"C:\\Temp\\", L"C:\\Temp", 0},
      {"TMP a file", L"D:\\file.txt", L"C:\\Temp\\", L"C:\\Temp", 0},
      {"TMP '.'", L".", L"C:\\Work\\", L"", kErrorBadPathname},
      {"TMP relative", L"rel", L"C:\\Work\\rel\\", L"", kErrorBadPathname},
      {"TMP drive-relative", L"C:rel", L"C:\\Work\\rel\\", L"", kErrorBadPathname},
      {"TMP rooted", L"\\rel", L"C:\\rel\\", L"", kErrorBadPathname},
      {"temp path relative", std::nullopt, L".\\", L"", kErrorBadPathname},
      {"temp folder missing", std::nullopt, L"C:\\Gone\\", L"", kErrorPathNotFound},
      {"temp folder a file", std::nullopt, L"D:\\file.txt\\", L"", kErrorPathNotFound},
      {"drive root", std::nullopt, L"D:\\", L"D:\\", 0},
      {"UNC", std::nullopt, L"\\\\server\\share\\t\\", L"\\\\server\\share\\t", 0},
  };
  for (const Case& c : cases) {
    FakeSystem system;
    system.AddDirectory(L"D:\\");
    system.AddDirectory(L"D:\\Scratch");
    system.AddDirectory(L"\\\\server\\share\\t");
    system.AddFile(L"D:\\file.txt");
    system.AddDirectory(L".");
    system.AddDirectory(L"rel");
    system.AddDirectory(L"C:\\Work");
    system.AddDirectory(L"C:\\Work\\rel");
    if (c.tmp) system.SetEnvironment(L"TMP", c.tmp);
    system.SetTempPath(c.tempPath);
    const FolderChoice choice = ChooseUserTempFolder(system);
    EXPECT_EQ(choice.folder, c.folder) << c.what;
    EXPECT_EQ(choice.error, c.error) << c.what;
  }
}

TEST(UserTempFolder, GetTempPathFailingGivesPathNotFound) {
  for (uint32_t result : {0u, 1024u, 5000u}) {
    FakeSystem system;
    system.SetTempPathResult(result);
    EXPECT_EQ(ChooseUserTempFolder(system).error, kErrorPathNotFound) << result;
  }
}

TEST(InstallerLogFolder, TheUsersTempWithoutTrailingSeparatorsOrNone) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"D:\\Scratch", L"D:\\Scratch"},
      {L"D:\\Scratch\\", L"D:\\Scratch"},
      {L"D:\\", L"D:"},
      {L"\\\\server\\share\\t\\", L"\\\\server\\share\\t"},
      {L".", L""},
      {L"D:\\Gone", L""},
  };
  for (const auto& [tmp, folder] : cases) {
    FakeSystem system;
    system.AddDirectory(L"D:\\");
    system.AddDirectory(L"D:\\Scratch");
    system.AddDirectory(L"\\\\server\\share\\t");
    system.AddDirectory(L".");
    system.SetEnvironment(L"TMP", tmp);
    system.SetTempPath(L"C:\\Gone\\");
    system.SetElevated(false);
    EXPECT_EQ(FindRunPlaces(system, false).installerLogFolder, folder) << tmp;
  }
}

TEST(LogFolder, ElevatedOnlyWhereTheUserCouldWriteAnywayElseTheProtectedFolder) {
  const std::wstring logs = L"C:\\Windows\\Temp\\QuorvexUpdate-Logs";
  struct Case {
    const char* what;
    std::wstring tmp;
    std::optional<std::wstring> profile;
    bool squatted;  // the protected folder's name made first by the user
    std::wstring folder;
  };
  const Case cases[] = {
      {"in the profile", L"C:\\Users\\Dana\\AppData\\Local\\Temp", L"C:\\Users\\Dana", false,
       L"C:\\Users\\Dana\\AppData\\Local\\Temp"},
      {"the profile itself, other case", L"c:\\users\\dana", L"C:\\Users\\Dana\\", false,
       L"c:\\users\\dana"},
      {"System32", L"C:\\Windows\\System32", L"C:\\Users\\Dana", false, logs},
      {"a name that starts like the profile", L"C:\\Users\\Danax", L"C:\\Users\\Dana", false, logs},
      {"out of the profile through ..", L"C:\\Users\\Dana\\..\\..\\Windows\\System32",
       L"C:\\Users\\Dana", false, logs},
      {"dots and blanks", L"C:\\Users\\Dana\\. .", L"C:\\Users\\Dana", false, logs},
      {"no profile", L"C:\\Users\\Dana", std::nullopt, false, logs},
      {"squatted: a fresh folder beside it", L"C:\\Windows\\System32", L"C:\\Users\\Dana", true,
       logs + L"-00000000000000000000000000000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSystem system;
    for (const wchar_t* folder :
         {L"C:\\Users", L"C:\\Users\\Dana", L"C:\\Users\\Danax", L"C:\\Users\\Dana\\AppData",
          L"C:\\Users\\Dana\\AppData\\Local", L"C:\\Users\\Dana\\AppData\\Local\\Temp",
          L"C:\\Users\\Dana\\..", L"C:\\Users\\Dana\\..\\..", L"C:\\Users\\Dana\\..\\..\\Windows",
          L"C:\\Users\\Dana\\..\\..\\Windows\\System32", L"C:\\Users\\Dana\\. .",
          L"C:\\Windows\\System32", L"c:\\users\\dana"}) {
      system.AddDirectory(folder);
    }
    system.SetEnvironment(L"TMP", c.tmp);
    system.SetProfileFolder(c.profile);
    if (c.squatted) system.AddDirectory(logs);  // the user's, with the user as owner
    const FolderChoice chosen = LogFolder(system, true);
    EXPECT_EQ(chosen.folder, c.folder);
    if (c.folder.rfind(logs, 0) == 0) {
      EXPECT_EQ(system.AccessOf(c.folder),
                std::optional<std::wstring>(PrivateFolderAccess(true, L"")));
    }
    // Not elevated, the user's own folder whatever it is.
    EXPECT_EQ(LogFolder(system, false).folder, c.tmp);
  }
}

TEST(LogFolder, AProtectedFolderOfAnEarlierRunIsTakenAgain) {
  FakeSystem system;
  system.SetEnvironment(L"TMP", L"D:\\Elsewhere");
  system.AddDirectory(L"D:\\Elsewhere");
  const std::wstring logs = L"C:\\Windows\\Temp\\QuorvexUpdate-Logs";
  EXPECT_EQ(LogFolder(system, true).folder, logs);
  EXPECT_EQ(LogFolder(system, true).folder, logs);
  // The reference folder of the second choice is gone again.
  EXPECT_EQ(system.DirectoriesUnder(L"C:\\Windows\\Temp"), std::vector<std::wstring>{logs});
  system.AddLink(logs);
  EXPECT_EQ(LogFolder(system, true).folder, logs + L"-00000000000000000000000000000000");
}

// A folder standing at the protected folder's name is used only when its owner and access list
// are exactly those of a fresh folder the run makes beside it; otherwise the run logs into that
// fresh folder, of a random name, instead of writing no logs.
TEST(LogFolder, AFolderThatCannotBeTrustedGivesWayToAFreshProtectedOne) {
  const std::wstring logs = L"C:\\Windows\\Temp\\QuorvexUpdate-Logs";
  const std::wstring fresh = logs + L"-0102030405060708090a0b0c0d0e0f10";
  const std::wstring ours = L"O:S-1-5-32-544" + PrivateFolderAccess(true, L"");
  struct Case {
    const char* what;
    std::optional<std::wstring> standing;  // its owner and access list; nothing: unreadable
    bool trusted;
  };
  const Case cases[] = {
      {"an earlier run's", ours, true},
      {"another owner", L"O:S-1-5-21-1-2-3-1001" + PrivateFolderAccess(true, L""), false},
      {"the users allowed in", ours + L"(A;OICI;0x1200a9;;;BU)", false},
      {"everyone allowed in", L"O:S-1-5-32-544D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;WD)", false},
      {"inherited entries", L"O:S-1-5-32-544D:AI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},
      {"the same entries in another order", L"O:S-1-5-32-544D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)",
       false},
      {"unreadable", std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSystem system;
    system.SetEnvironment(L"TMP", L"C:\\Windows\\System32");
    system.AddDirectory(L"C:\\Windows\\System32");
    system.AddDirectory(logs);
    if (c.standing) {
      system.SetSecurity(logs, *c.standing);
    } else {
      system.FailSecurityRead(logs, kErrorAccessDenied);
    }
    system.QueueRandom({std::byte{1}, std::byte{2}, std::byte{3}, std::byte{4}, std::byte{5},
                        std::byte{6}, std::byte{7}, std::byte{8}, std::byte{9}, std::byte{10},
                        std::byte{11}, std::byte{12}, std::byte{13}, std::byte{14}, std::byte{15},
                        std::byte{16}});
    const FolderChoice chosen = LogFolder(system, true);
    EXPECT_EQ(chosen.error, 0u);
    EXPECT_EQ(chosen.folder, c.trusted ? logs : fresh);
    // The fresh folder stays only where it is used, made with the protected access list.
    EXPECT_EQ(system.IsDirectory(fresh), !c.trusted);
    if (!c.trusted) {
      EXPECT_EQ(system.AccessOf(fresh),
                std::optional<std::wstring>(PrivateFolderAccess(true, L"")));
    }
  }
}

// "/e" without a path, elevated, writes only where the logs may go: a temporary folder in the
// user's profile reached without a link; elsewhere nothing is written (300 with the error).
TEST(ExtractFolder, ElevatedOnlyInTheProfileAndWithoutLinks) {
  struct Case {
    const char* what;
    bool elevated;
    std::wstring tmp;
    std::wstring link;  // a link at this path
    FolderChoice expected;
  };
  const std::wstring temp = L"C:\\Users\\Dana\\AppData\\Local\\Temp";
  const Case cases[] = {
      {"in the profile", true, temp, L"", {temp, 0}},
      {"System32", true, L"C:\\Windows\\System32", L"", {L"", kErrorAccessDenied}},
      {"SysWOW64", true, L"C:\\Windows\\SysWOW64", L"", {L"", kErrorAccessDenied}},
      {"out of the profile through ..",
       true,
       L"C:\\Users\\Dana\\..\\..\\Windows\\System32",
       L"",
       {L"", kErrorAccessDenied}},
      {"in the profile through a link",
       true,
       temp,
       L"C:\\Users\\Dana\\AppData",
       {L"", kErrorCantResolveFilename}},
      {"relative", true, L".", L"", {L"", kErrorBadPathname}},
      {"not elevated: System32 is the user's choice",
       false,
       L"C:\\Windows\\System32",
       L"",
       {L"C:\\Windows\\System32", 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSystem system;
    for (const wchar_t* folder :
         {L"C:\\Users", L"C:\\Users\\Dana", L"C:\\Users\\Dana\\AppData",
          L"C:\\Users\\Dana\\AppData\\Local", L"C:\\Users\\Dana\\AppData\\Local\\Temp",
          L"C:\\Users\\Dana\\..", L"C:\\Users\\Dana\\..\\..", L"C:\\Users\\Dana\\..\\..\\Windows",
          L"C:\\Users\\Dana\\..\\..\\Windows\\System32", L"C:\\Windows\\System32",
          L"C:\\Windows\\SysWOW64", L"."}) {
      system.AddDirectory(folder);
    }
    system.SetProfileFolder(L"C:\\Users\\Dana");
    system.SetEnvironment(L"TMP", c.tmp);
    if (!c.link.empty()) system.AddLink(c.link);
    const RunPlaces places = FindRunPlaces(system, c.elevated);
    EXPECT_EQ(places.extractFolder.folder, c.expected.folder);
    EXPECT_EQ(places.extractFolder.error, c.expected.error);
  }
}

// ----------------------------------------------------------------------- temporary-name loop

TEST(TempNameLoop, EndsOnAnErrorThatDoesNotMeanTaken) {
  FakeSystem system;
  system.AddFile(L"C:\\Temp\\MSP2");
  system.FailQuery(L"C:\\Temp\\MSP3", kErrorFilenameExcedRange);
  TempNameGenerator generator;
  const Outcome<std::wstring> name = generator.ChooseName(system, ChooseUserTempFolder(system));
  EXPECT_FALSE(name);
  EXPECT_EQ(name.error(), kErrorFilenameExcedRange);
}

TEST(TempNameLoop, GivesUpAfterItsBoundOfTakenNames) {
  FakeSystem system;
  TempNameGenerator generator;
  // Every name is refused for lack of access: each counts as taken, and the request ends after
  // kMaxNamesPerRequest of them, with "file exists".
  for (uint64_t n = 2; n <= kMaxNamesPerRequest + 2; ++n) {
    system.DenyAccess(L"C:\\Temp\\MSP" + std::to_wstring(n));
  }
  const Outcome<std::wstring> name = generator.ChooseName(system, ChooseUserTempFolder(system));
  EXPECT_FALSE(name);
  EXPECT_EQ(name.error(), kErrorFileExists);
}

// ---------------------------------------------------------------------------- private folder

TEST(PrivateFolderAccessList, AsBuilt) {
  EXPECT_EQ(PrivateFolderAccess(true, L"S-1-5-21-1-2-3-1001"),
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
  EXPECT_EQ(PrivateFolderAccess(false, L"S-1-5-21-1-2-3-1001"),
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-1-2-3-1001)");
}

TEST(PrivateFolderRoot, Table) {
  struct Case {
    const char* what;
    bool elevated;
    std::optional<std::wstring> windows;
    FolderChoice userTemp;
    std::wstring link;  // a link at this path
    FolderChoice expected;
  };
  const Case cases[] = {
      {"elevated", true, L"C:\\Windows", {L"C:\\Temp", 0}, L"", {L"C:\\Windows\\Temp", 0}},
      {"elevated, user temp unusable",
       true,
       L"C:\\Windows",
       {L"", kErrorBadPathname},
       L"",
       {L"C:\\Windows\\Temp", 0}},
      {"elevated, no Windows folder",
       true,
       std::nullopt,
       {L"C:\\Temp", 0},
       L"",
       {L"", kErrorPathNotFound}},
      {"elevated, Windows temp a junction",
       true,
       L"C:\\Windows",
       {L"C:\\Temp", 0},
       L"C:\\Windows\\Temp",
       {L"", kErrorCantResolveFilename}},
      {"not elevated", false, L"C:\\Windows", {L"C:\\Temp", 0}, L"", {L"C:\\Temp", 0}},
      {"not elevated, user temp unusable",
       false,
       L"C:\\Windows",
       {L"", kErrorBadPathname},
       L"",
       {L"", kErrorBadPathname}},
      {"not elevated, ';' in the user temp",
       false,
       L"C:\\Windows",
       {L"C:\\a;b", 0},
       L"",
       {L"", kErrorBadPathname}},
      {"not elevated, user temp through a link",
       false,
       L"C:\\Windows",
       {L"C:\\L\\t", 0},
       L"C:\\L",
       {L"", kErrorCantResolveFilename}},
  };
  for (const Case& c : cases) {
    FakeSystem system;
    system.SetWindowsFolder(c.windows);
    system.AddDirectory(L"C:\\a;b");
    system.AddDirectory(L"C:\\L");
    system.AddDirectory(L"C:\\L\\t");
    if (!c.link.empty()) system.AddLink(c.link);
    const FolderChoice root = ChoosePrivateRoot(system, c.elevated, c.userTemp);
    EXPECT_EQ(root.folder, c.expected.folder) << c.what;
    EXPECT_EQ(root.error, c.expected.error) << c.what;
  }
}

TEST(PrivateFolderLife, CreatedWithItsAccessListLockedAndRemovedWithEverythingInIt) {
  FakeSystem system;
  system.QueueRandom(Bytes({0xde, 0xad, 0xbe, 0xef}));
  Outcome<std::unique_ptr<PrivateFolder>> created =
      PrivateFolder::Create(system, L"C:\\Windows\\Temp", true);
  ASSERT_TRUE(created) << created.error();
  std::unique_ptr<PrivateFolder> folder = std::move(*created);
  const std::wstring path = folder->path();
  EXPECT_EQ(path, L"C:\\Windows\\Temp\\QuorvexUpdate-deadbeef000000000000000000000000");
  EXPECT_EQ(system.AccessOf(path), L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
  EXPECT_TRUE(system.Exists(path + L"\\run.lock"));
  system.AddFile(path + L"\\MSP2");
  system.AddDirectory(path + L"\\sub");
  system.AddFile(path + L"\\sub\\x");
  system.AddDirectory(L"C:\\Outside");
  system.AddFile(L"C:\\Outside\\victim");
  system.AddLink(path + L"\\link");  // to C:\Outside: removed itself, never followed
  folder.reset();
  EXPECT_FALSE(system.Exists(path));
  EXPECT_TRUE(system.FilesUnder(path).empty());
  EXPECT_TRUE(system.Exists(L"C:\\Outside\\victim"));
}

TEST(PrivateFolderLife, ANameAlreadyTakenMovesOnToAnotherRandomName) {
  FakeSystem system;
  system.AddLink(kFirstPrivate);  // planted where the first name would go
  system.QueueRandom(std::vector<std::byte>(16, std::byte{0}));
  system.QueueRandom(std::vector<std::byte>(16, std::byte{0x11}));
  Outcome<std::unique_ptr<PrivateFolder>> created =
      PrivateFolder::Create(system, L"C:\\Windows\\Temp", true);
  ASSERT_TRUE(created) << created.error();
  std::unique_ptr<PrivateFolder> folder = std::move(*created);
  EXPECT_EQ(folder->path(), L"C:\\Windows\\Temp\\QuorvexUpdate-11111111111111111111111111111111");
}

TEST(PrivateFolderLife, NotElevatedTheUserHoldsIt) {
  FakeSystem system;
  system.SetUserSid(L"S-1-5-21-9-9-9-1004");
  Outcome<std::unique_ptr<PrivateFolder>> created =
      PrivateFolder::Create(system, L"C:\\Temp", false);
  ASSERT_TRUE(created) << created.error();
  std::unique_ptr<PrivateFolder> folder = std::move(*created);
  EXPECT_EQ(system.AccessOf(folder->path()),
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-9-9-9-1004)");
}

TEST(PrivateFolderLife, CreationErrorsComeBackAsValues) {
  FakeSystem system;
  system.failMakeDirectory = true;
  const Outcome<std::unique_ptr<PrivateFolder>> created =
      PrivateFolder::Create(system, L"C:\\Windows\\Temp", true);
  EXPECT_FALSE(created);
  EXPECT_EQ(created.error(), kErrorAccessDenied);
  EXPECT_TRUE(system.DirectoriesUnder(L"C:\\Windows\\Temp").empty());
}

// --------------------------------------------------------------------------- the whole run

class WholeRun : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::LoadStringTable(system, 1033);
    system.AddPayload(kPayloadGlobal, std::string("global patch"));
    installer.AddPackageContent("global patch", L"{G}", L"2.0;1.0");
    installer.readFile = [this](const std::wstring& path) {
      patchPaths.push_back(path);
      return system.ReadFile(path);
    };
    installer.AddProduct(L"{G}", L"Suite", L"1033", L"1.0");
  }
  int Run(std::vector<std::wstring> arguments) {
    arguments.insert(arguments.begin(), L"update.exe");
    system.SetArguments(arguments);
    return RunUpdater(system, installer);
  }
  FakeSystem system;
  FakeInstaller installer;
  std::vector<std::wstring> patchPaths;
};

TEST_F(WholeRun, ElevatedCopiesGoIntoThePrivateFolderWhichIsGoneAfterwards) {
  const std::wstring killed = L"C:\\Windows\\Temp\\QuorvexUpdate-dead";
  system.AddDirectory(killed);  // a killed run's, which no run removes
  system.AddFile(killed + L"\\MSP2");
  EXPECT_EQ(Run({}), 0);
  ASSERT_EQ(installer.configurations().size(), 1u);
  const std::wstring expected = L"PATCH=\"" + std::wstring(kFirstPrivate) + L"\\MSP2\" ";
  EXPECT_EQ(installer.configurations()[0].commandLine.substr(0, expected.size()), expected);
  EXPECT_EQ(system.DirectoriesUnder(L"C:\\Windows\\Temp"), std::vector<std::wstring>{killed});
  EXPECT_TRUE(system.Exists(killed + L"\\MSP2"));
  // The log stays in the user's temporary folder, made safely and held for the installer.
  EXPECT_TRUE(system.Exists(L"C:\\Temp\\Suite SP1.log"));
  EXPECT_EQ(installer.configurations()[0].logFile, L"C:\\Temp\\Suite SP1.log");
  EXPECT_EQ(installer.configurations()[0].logMode, kInstallLogModeVerbose);
}

TEST_F(WholeRun, NotElevatedCopiesGoIntoAPrivateFolderOfTheUsersTemp) {
  system.SetElevated(false);
  EXPECT_EQ(Run({}), 0);
  ASSERT_EQ(installer.configurations().size(), 1u);
  const std::wstring expected = L"PATCH=\"C:\\Temp\\QuorvexUpdate-";
  EXPECT_EQ(installer.configurations()[0].commandLine.substr(0, expected.size()), expected);
  EXPECT_TRUE(system.DirectoriesUnder(L"C:\\Temp").empty());
}

TEST_F(WholeRun, ReportCopiesGoIntoThePrivateFolderAndExtractionWithoutPathIntoTheUsersTemp) {
  EXPECT_EQ(Run({L"/e", L"", L"/i"}), 0);
  EXPECT_EQ(system.ContentOf(L"C:\\Temp\\MSP2"), "global patch");  // the user's output stays
  ASSERT_FALSE(patchPaths.empty());
  for (const std::wstring& path : patchPaths) {
    EXPECT_EQ(path.rfind(L"C:\\Windows\\Temp\\QuorvexUpdate-", 0), 0u) << path;
  }
  EXPECT_TRUE(system.DirectoriesUnder(L"C:\\Windows\\Temp").empty());
}

// Elevated, "/e" without a path with TMP at an administrators' folder writes nothing there: one
// message 300 with the reason, and 1603 with /exitcode. The same TMP without elevation is the
// user's own choice.
TEST_F(WholeRun, ElevatedExtractionWithoutPathOutsideTheProfileWritesNothing) {
  for (const bool elevated : {true, false}) {
    SCOPED_TRACE(elevated);
    FakeSystem fresh;
    testing::LoadStringTable(fresh, 1033);
    fresh.AddPayload(kPayloadGlobal, std::string("global patch"));
    fresh.AddDirectory(L"C:\\Windows\\System32");
    fresh.SetEnvironment(L"TMP", L"C:\\Windows\\System32");
    fresh.SetElevated(elevated);
    fresh.SetArguments({L"update.exe", L"/exitcode", L"/e"});
    const int code = RunUpdater(fresh, installer);
    const std::vector<std::wstring> written = fresh.FilesUnder(L"C:\\Windows\\System32");
    if (elevated) {
      EXPECT_EQ(code, 1603);
      ASSERT_EQ(fresh.boxes().size(), 1u);
      EXPECT_NE(fresh.boxes()[0].text.find(L": " + std::to_wstring(kErrorAccessDenied)),
                std::wstring::npos);
      EXPECT_TRUE(written.empty());
    } else {
      EXPECT_EQ(code, 0);
      EXPECT_TRUE(fresh.boxes().empty());
      ASSERT_FALSE(written.empty());
      EXPECT_EQ(fresh.ContentOf(L"C:\\Windows\\System32\\MSP2"), "global patch");
    }
  }
}

TEST_F(WholeRun, UnusableUserTempFailsWith300AndTheError) {
  struct Case {
    std::wstring tmp;
    uint32_t error;
  };
  for (const Case& c : {Case{L".", kErrorBadPathname}, Case{L"D:\\Gone", kErrorPathNotFound}}) {
    FakeSystem fresh;
    testing::LoadStringTable(fresh, 1033);
    fresh.AddPayload(kPayloadGlobal, std::string("global patch"));
    fresh.SetEnvironment(L"TMP", c.tmp);
    fresh.SetTempPath(c.tmp == L"." ? L"C:\\Work\\" : c.tmp + L"\\");
    fresh.AddDirectory(L"C:\\Work");
    fresh.SetArguments({L"update.exe"});
    RunUpdater(fresh, installer);
    ASSERT_EQ(fresh.boxes().size(), 1u) << c.tmp;
    EXPECT_NE(fresh.boxes()[0].text.find(L": " + std::to_wstring(c.error)), std::wstring::npos)
        << c.tmp;
    // Only the run log, in the protected log folder, since there is no user's folder.
    const std::wstring logs = L"C:\\Windows\\Temp\\QuorvexUpdate-Logs";
    ASSERT_EQ(fresh.creations().size(), 1u) << c.tmp;
    EXPECT_EQ(fresh.creations()[0].first.rfind(logs + L"\\update_", 0), 0u) << c.tmp;
    EXPECT_EQ(fresh.DirectoriesUnder(L"C:\\Windows\\Temp"), std::vector<std::wstring>{logs});
  }
  EXPECT_TRUE(installer.configurations().empty());
}

TEST_F(WholeRun, LinkAtTheLogNameStaysAndTheLogTakesTheNextName) {
  system.AddLink(L"C:\\Temp\\Suite SP1.log");
  EXPECT_EQ(Run({}), 0);
  ASSERT_EQ(installer.configurations().size(), 1u);
  EXPECT_EQ(installer.configurations()[0].logFile, L"C:\\Temp\\Suite (2) SP1.log");
  EXPECT_TRUE(system.Exists(L"C:\\Temp\\Suite (2) SP1.log"));
  EXPECT_FALSE(system.Exists(L"C:\\Temp\\Suite SP1.log"));  // still only the link
}

TEST_F(WholeRun, LinksAtEveryLogNameMeanNoLog) {
  for (const wchar_t* name : {L"Suite", L"Suite (2)", L"Suite (3)"}) {
    system.AddLink(std::wstring(L"C:\\Temp\\") + name + L" SP1.log");
  }
  EXPECT_EQ(Run({}), 0);
  ASSERT_EQ(installer.configurations().size(), 1u);  // patched all the same
  EXPECT_EQ(installer.configurations()[0].logMode, 0u);
  EXPECT_EQ(installer.configurations()[0].logFile, L"");
}

TEST_F(WholeRun, LogFolderReachedThroughALinkOrALogNameThatIsAFolderMeansNoLog) {
  for (bool folderAtName : {false, true}) {
    FakeSystem fresh;
    testing::LoadStringTable(fresh, 1033);
    fresh.AddPayload(kPayloadGlobal, std::string("global patch"));
    fresh.AddDirectory(L"C:\\Users");
    fresh.AddDirectory(L"C:\\Users\\t");
    fresh.SetEnvironment(L"TMP", L"C:\\Users\\t");
    fresh.SetProfileFolder(L"C:\\Users\\t");
    if (folderAtName) {
      fresh.AddDirectory(L"C:\\Users\\t\\Suite SP1.log");
    } else {
      fresh.AddLink(L"C:\\Users");
    }
    FakeInstaller freshInstaller;
    freshInstaller.AddPackageContent("global patch", L"{G}", L"2.0;1.0");
    freshInstaller.readFile = [&fresh](const std::wstring& path) { return fresh.ReadFile(path); };
    freshInstaller.AddProduct(L"{G}", L"Suite", L"1033", L"1.0");
    fresh.SetArguments({L"update.exe"});
    RunUpdater(fresh, freshInstaller);
    ASSERT_EQ(freshInstaller.configurations().size(), 1u) << folderAtName;  // patched all the same
    EXPECT_EQ(freshInstaller.configurations()[0].logMode, 0u) << folderAtName;
    EXPECT_EQ(freshInstaller.configurations()[0].logFile, L"") << folderAtName;
  }
}

}  // namespace
}  // namespace updater
