// The whole entry as a deployment tool runs it: the exit code "/exitcode" gives for every kind of
// installer result and mix of products, and the run log every run writes.
#include <gtest/gtest.h>

#include "launcher/entry.h"
#include "payload/payload_kinds.h"
#include "tests/fakes/fake_installer.h"
#include "tests/fakes/fake_system.h"
#include "tests/fakes/string_tables.h"

namespace updater {
namespace {

using testing::FakeInstaller;
using testing::FakeSystem;

constexpr wchar_t kDefaultLog[] = L"C:\\Temp\\update_20261210040506_00000000.log";

class Deploy : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::LoadStringTable(system, 1033);
    system.AddDirectory(L"C:\\Downloads");
    system.AddFile(L"C:\\Downloads\\update.exe", std::string(4321, 'x'));
    system.SetOsVersion(OsVersionInfo{6, 1, 2, 0, 1}, std::nullopt, 0);
    installer.readFile = [this](const std::wstring& path) { return system.ReadFile(path); };
  }
  // The global payload targeting codes, with this version property.
  void Carry(const std::wstring& codes, const std::wstring& versions = L"2.0;1.0") {
    system.AddPayload(kPayloadGlobal, std::string("global patch"));
    installer.AddPackageContent("global patch", codes, versions);
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
  FakeSystem system;
  FakeInstaller installer;
};

struct Product {
  const wchar_t* code;
  const wchar_t* version;
  uint32_t result;  // what the installer gives when it is patched
};

struct ExitCase {
  const char* name;
  std::vector<Product> products;  // all targets of the global payload, installed
  uint32_t code;
};

class DeployExitCode : public Deploy, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(DeployExitCode, TellsTheWorstOutcomeOnlyWhenAsked) {
  const ExitCase& c = GetParam();
  std::wstring codes;
  for (const Product& product : c.products) {
    codes += (codes.empty() ? L"" : L";") + std::wstring(product.code);
    installer.AddProduct(product.code, std::wstring(L"Suite ") + product.code, L"1033",
                         product.version);
    installer.SetConfigureResult(product.code, product.result);
  }
  Carry(codes);
  EXPECT_EQ(Run({L"/q", L"/exitcode"}), static_cast<int>(c.code));
  const size_t calls = installer.configurations().size();
  EXPECT_EQ(Run({L"/q"}), 0) << "without /exitcode";
  EXPECT_EQ(installer.configurations().size(), 2 * calls) << "the same run both times";
  EXPECT_TRUE(system.boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Results, DeployExitCode,
    ::testing::Values(
        ExitCase{"patched", {{L"{A}", L"1.0", 0}}, 0},
        ExitCase{"up_to_date", {{L"{A}", L"2.0", 0}}, 0},
        ExitCase{"restart_required", {{L"{A}", L"1.0", 3010}}, 3010},
        ExitCase{"restart_started", {{L"{A}", L"1.0", 1641}}, 1641},
        ExitCase{"another_install_running", {{L"{A}", L"1.0", 1618}}, 1618},
        ExitCase{"install_failed", {{L"{A}", L"1.0", 1603}}, 1603},
        ExitCase{"not_covered", {{L"{A}", L"0.9", 0}}, 1642},
        ExitCase{"one_patched_one_refused", {{L"{A}", L"1.0", 0}, {L"{B}", L"0.9", 0}}, 1642},
        ExitCase{"one_up_to_date_one_patched", {{L"{A}", L"2.0", 0}, {L"{B}", L"1.0", 0}}, 0},
        ExitCase{"one_restart_one_failing", {{L"{A}", L"1.0", 3010}, {L"{B}", L"1.0", 1603}}, 1603},
        ExitCase{"failing_then_restart", {{L"{A}", L"1.0", 1603}, {L"{B}", L"1.0", 3010}}, 1603},
        ExitCase{
            "restart_asked_and_started", {{L"{A}", L"1.0", 3010}, {L"{B}", L"1.0", 1641}}, 1641},
        ExitCase{"refused_and_failed", {{L"{A}", L"0.9", 0}, {L"{B}", L"1.0", 1618}}, 1618}),
    [](const ::testing::TestParamInfo<ExitCase>& param) { return std::string(param.param.name); });

TEST_F(Deploy, NoTargetInstalledGives1642) {
  Carry(L"{A};{B}");
  EXPECT_EQ(Run({L"/q", L"/exitcode"}), 1642);
  EXPECT_EQ(Run({L"/q"}), 0);
}

TEST_F(Deploy, APayloadThatIsNotAPatchGives1603) {
  system.AddPayload(kPayloadGlobal, std::string("random bytes"));
  EXPECT_EQ(Run({L"/q", L"/exitcode"}), 1603);
  EXPECT_EQ(Run({L"/q"}), 0);
}

TEST_F(Deploy, ALaterPayloadsFailureOutranksAnEarlierSuccess) {
  Carry(L"{A}");
  installer.AddProduct(L"{A}", L"Suite", L"1033", L"1.0");
  installer.SetConfigureResult(L"{A}", 3010);
  system.AddPayload(kPayloadLanguagePack, std::string("language pack"));
  installer.AddPackageContent("language pack", L"{L}", L"2.0;1.0");
  EXPECT_EQ(Run({L"/exitcode"}), 1642);
  ASSERT_EQ(system.boxes().size(), 1u) << "307 for the language pack, no closing message";
}

TEST_F(Deploy, ExtractionAndReportRunsGiveZeroUnlessAPayloadCouldNotBeWritten) {
  Carry(L"{A}");
  system.AddDirectory(L"D:\\Out");
  EXPECT_EQ(Run({L"/e", L"D:\\Out\\Fix.msp", L"/exitcode"}), 0);
  EXPECT_EQ(Run({L"/q", L"/i", L"/exitcode"}), 0);
  EXPECT_EQ(Run({L"/pi", L"/exitcode"}), 0);
  EXPECT_EQ(Run({L"/e", L"D:\\Missing\\Fix.msp", L"/exitcode"}), 1603);
  EXPECT_EQ(Run({L"/e", L"D:\\Missing\\Fix.msp"}), 0);
  // A kind the update does not carry is no failure.
  EXPECT_FALSE(system.Exists(L"D:\\Out\\Fix_lp.msp"));
}

// --- the run log ----------------------------------------------------------------------------

TEST_F(Deploy, TheLogTellsWhatTheRunFoundDecidedAndDid) {
  Carry(L"{A};{B};{C}", L"2.0;1.0");
  installer.AddProduct(L"{A}", L"Suite Alpha", L"1033", L"1.0");
  installer.AddProduct(L"{B}", L"Suite Beta", L"1031", L"0.9");
  installer.SetConfigureResult(L"{A}", 3010);
  installer.onConfigure = [this](const std::wstring&) { system.AdvanceClock(1500); };
  EXPECT_EQ(Run({L"/q", L"/exitcode"}), 1642);

  const std::string log = Log();
  ASSERT_EQ(log.rfind("\xEF\xBB\xBF", 0), 0u) << "UTF-8 with a byte-order mark";
  for (const char* expected : {
           "C:\\Downloads\\update.exe (4321 bytes)",
           "/q /exitcode",
           "Windows",
           "Elevated:",
           "C:\\Temp",
           "IDR_MSP",
           "12 bytes",
           "upgrade version 2.0",
           "target versions 1.0",
           "{C}: not installed",
           "Suite Alpha",
           "language 1033",
           "version 1.0",
           "patch",
           "C:\\Temp\\Suite Alpha SP1.log",
           "result 3010",
           "after 1500 ms",
           "Suite Beta",
           "version 0.9",
           "not covered",
           "308",
           "not shown: /q",
           "exit code 1642",
       }) {
    EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
  }
  // Entries keep the order in which the run went.
  EXPECT_LT(log.find("Suite Alpha"), log.find("result 3010"));
  EXPECT_LT(log.find("result 3010"), log.find("Decision for {B}"));
  EXPECT_LT(log.find("not covered"), log.find("exit code 1642"));
}

TEST_F(Deploy, TheInstallerCallIsInTheLogBeforeTheCallBegins) {
  Carry(L"{A}");
  installer.AddProduct(L"{A}", L"Suite", L"1033", L"1.0");
  std::string seenDuringCall;
  installer.onConfigure = [&](const std::wstring&) { seenDuringCall = Log(); };
  Run({L"/q"});
  ASSERT_FALSE(seenDuringCall.empty());
  // A run killed inside the call leaves a log whose last entry is that call.
  const size_t lastEntry = seenDuringCall.rfind("\r\n", seenDuringCall.size() - 3);
  const std::string last = seenDuringCall.substr(lastEntry + 2);
  EXPECT_NE(last.find("{A}"), std::string::npos) << last;
  EXPECT_NE(last.find("starts"), std::string::npos) << last;
}

TEST_F(Deploy, EveryRunWritesALogOfItsOwn) {
  Carry(L"{A}");
  // Each run in the same second draws its log name's random part before its private folder's.
  const auto draw = [this](uint8_t log) {
    system.QueueRandom(std::vector<std::byte>(4, std::byte{log}));
    system.QueueRandom(std::vector<std::byte>(16, std::byte{0}));
  };
  system.QueueRandom(std::vector<std::byte>(4, std::byte{0}));  // no private folder
  Run({L"/pi"});
  system.QueueRandom(std::vector<std::byte>(4, std::byte{0}));  // the first run's: another draw
  draw(2);
  Run({L"/q", L"/i"});
  draw(3);
  Run({L"/q"});
  EXPECT_TRUE(system.Exists(kDefaultLog));
  EXPECT_NE(Log(L"C:\\Temp\\update_20261210040506_02020202.log").find("Info"), std::string::npos)
      << "the report's box is in the log";
  EXPECT_NE(Log(L"C:\\Temp\\update_20261210040506_03030303.log").find("307"), std::string::npos);
}

TEST_F(Deploy, TheLogGoesWhereTheCommandLineSays) {
  Carry(L"{A}");
  installer.AddProduct(L"{A}", L"Suite", L"1033", L"1.0");
  system.AddDirectory(L"D:\\Logs");
  EXPECT_EQ(Run({L"/log", L"D:\\Logs\\run.log", L"/exitcode"}), 0);
  EXPECT_NE(Log(L"D:\\Logs\\run.log").find("Installation Successful"), std::string::npos);
  EXPECT_NE(Log(L"D:\\Logs\\run.log").find("exit code 0"), std::string::npos);
  EXPECT_FALSE(system.Exists(kDefaultLog));
}

TEST_F(Deploy, ALogThatCannotBeWrittenChangesNothingElse) {
  Carry(L"{A};{B}");
  installer.AddProduct(L"{A}", L"Suite", L"1033", L"1.0");
  installer.AddProduct(L"{B}", L"Suite Old", L"1033", L"0.9");
  installer.SetConfigureResult(L"{A}", 3010);
  const int logged = Run({L"/exitcode"});
  ASSERT_TRUE(system.Exists(kDefaultLog));
  const std::vector<testing::ShownBox> boxes = system.boxes();
  const std::vector<FakeInstaller::Configuration> calls = installer.configurations();

  auto expectTheSameRun = [&](std::vector<std::wstring> arguments) {
    const size_t boxesBefore = system.boxes().size();
    const size_t callsBefore = installer.configurations().size();
    EXPECT_EQ(Run(arguments), logged);
    ASSERT_EQ(system.boxes().size() - boxesBefore, boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_EQ(system.boxes()[boxesBefore + i].text, boxes[i].text);
    }
    ASSERT_EQ(installer.configurations().size() - callsBefore, calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(installer.configurations()[callsBefore + i].commandLine, calls[i].commandLine);
      EXPECT_EQ(installer.configurations()[callsBefore + i].logFile, calls[i].logFile);
    }
  };
  // "/log" in a folder that does not exist: no log anywhere, and the run as before.
  expectTheSameRun({L"/log", L"D:\\No Such Folder\\run.log", L"/exitcode"});
  EXPECT_FALSE(system.Exists(L"D:\\No Such Folder\\run.log"));
  EXPECT_EQ(system.FilesUnder(L"C:\\Temp\\update_"), std::vector<std::wstring>{kDefaultLog});

  // Every default name taken by something the log must not open: the first run's log at the
  // name of every draw, then a dangling link there.
  expectTheSameRun({L"/exitcode"});
  system.DeleteFileNamed(kDefaultLog);
  system.AddDanglingLink(kDefaultLog);
  expectTheSameRun({L"/exitcode"});
  EXPECT_TRUE(system.FilesUnder(L"C:\\Temp\\update_").empty());
}

// Elevated, a target whose code some user registered per user counts as not installed: the
// exit code of a run without targets, and the log names the registration.
TEST_F(Deploy, APerUserRegistrationEndsLikeAProductThatIsNotInstalled) {
  Carry(L"{A}");
  installer.AddProduct(L"{A}", L"Suite", L"1033", L"1.0");
  installer.AddRegistration(L"{A}", kInstallContextUserUnmanaged, L"S-1-5-21-1-2-3-1001", L"Suite",
                            L"1033", L"1.0");
  EXPECT_EQ(Run({L"/q", L"/exitcode"}), 1642);
  EXPECT_TRUE(installer.configurations().empty());
  const std::string log = Log();
  EXPECT_NE(log.find("Product {A}: not patched: registered per user, unmanaged, for "
                     "S-1-5-21-1-2-3-1001;"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Product {A}: not installed"), std::string::npos);
}

TEST_F(Deploy, TheLogKeepsEveryLanguage) {
  Carry(L"{J}");
  installer.AddProduct(L"{J}", L"\u30B5\u30F3\u30D7\u30EB", L"1041", L"1.0");
  Run({L"/q"});
  EXPECT_NE(Log().find("\xE3\x82\xB5\xE3\x83\xB3\xE3\x83\x97\xE3\x83\xAB"), std::string::npos);
}

}  // namespace
}  // namespace updater
