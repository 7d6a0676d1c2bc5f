#include <gtest/gtest.h>

#include "launcher/entry.h"
#include "payload/payload_kinds.h"
#include "tests/fakes/fake_platform.h"

namespace updater {
namespace {

// Every run writes its log into the temporary folder, named after the update and the time.
const std::wstring kRunLog = L"C:\\Temp\\update_20261210040506_00000000.log";

class Entry : public ::testing::Test, public testing::FakePlatform {
 protected:
  void SetUp() override {
    system.AddDirectory(L"D:\\Out");
    system.SetOsVersion(OsVersionInfo{6, 1, 2, 0, 1}, std::nullopt, 0);
    system.AddPayload(kPayloadGlobal, std::string("global patch"));
    installer.AddPackageContent("global patch", L"{G}", L"2.0;1.0");
    installer.AddProduct(L"{G}", L"Suite", L"1033", L"1.0");
  }
  int Run(std::vector<std::wstring> arguments) {
    arguments.insert(arguments.begin(), L"update.exe");
    system.SetArguments(arguments);
    return RunUpdater(system, installer);
  }
};

TEST_F(Entry, DefaultModeAppliesAndShowsTheClosingMessage) {
  EXPECT_EQ(Run({}), 0);
  ASSERT_EQ(installer.configurations().size(), 1u);
  ASSERT_EQ(system.boxes().size(), 1u);
  EXPECT_EQ(system.boxes()[0].caption, L"Installation Successful");
}

TEST_F(Entry, QuietModeAppliesSilently) {
  EXPECT_EQ(Run({L"/q"}), 0);
  EXPECT_EQ(installer.configurations().size(), 1u);
  EXPECT_TRUE(system.boxes().empty());
}

TEST_F(Entry, ExitCodeIsZeroAfterAFailure) {
  installer.SetConfigureResult(L"{G}", 1603);
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(system.boxes().size(), 1u);
}

TEST_F(Entry, ExtractWritesEachCarriedPayloadFromThePathAsGiven) {
  system.AddPayload(kPayloadProductSpecific, std::string("ps"));
  EXPECT_EQ(Run({L"/e", L"D:\\Out\\Fix.msp"}), 0);
  EXPECT_EQ(system.ContentOf(L"D:\\Out\\Fix.msp"), "global patch");
  EXPECT_FALSE(system.Exists(L"D:\\Out\\Fix_lp.msp"));
  EXPECT_EQ(system.ContentOf(L"D:\\Out\\Fix_ps.msp"), "ps");
  EXPECT_TRUE(installer.calls().empty());
  EXPECT_TRUE(system.boxes().empty());
}

TEST_F(Entry, ExtractWithoutPathUsesTemporaryNames) {
  EXPECT_EQ(Run({L"/e"}), 0);
  EXPECT_EQ(system.ContentOf(L"C:\\Temp\\MSP2"), "global patch");
  EXPECT_EQ(system.FilesUnder(L"C:\\Temp\\"),
            (std::vector<std::wstring>{L"C:\\Temp\\MSP2", kRunLog}));
}

TEST_F(Entry, ExtractThenReport) {
  EXPECT_EQ(Run({L"/e", L"D:\\Out\\Fix.msp", L"/i"}), 0);
  EXPECT_TRUE(system.Exists(L"D:\\Out\\Fix.msp"));
  ASSERT_EQ(system.boxes().size(), 1u);
  EXPECT_EQ(system.boxes()[0].caption, L"Info");
  EXPECT_TRUE(installer.configurations().empty());
  // The report's copies are gone; only the run log stays.
  EXPECT_EQ(system.FilesUnder(L"C:\\Temp\\"), std::vector<std::wstring>{kRunLog});
}

TEST_F(Entry, ReportFirstIgnoresLaterSwitches) {
  EXPECT_EQ(Run({L"/i", L"/e", L"D:\\Out\\Fix.msp"}), 0);
  EXPECT_FALSE(system.Exists(L"D:\\Out\\Fix.msp"));
  EXPECT_EQ(system.boxes().size(), 1u);
}

TEST_F(Entry, ReportIsShownEvenWhenQuiet) {
  EXPECT_EQ(Run({L"/q", L"/i"}), 0);
  ASSERT_EQ(system.boxes().size(), 1u);
  EXPECT_EQ(system.boxes()[0].type, 0x50030u);
}

TEST_F(Entry, PiDoesNothingButLogThatItDidNothing) {
  EXPECT_EQ(Run({L"/pi"}), 0);
  EXPECT_TRUE(installer.calls().empty());
  EXPECT_TRUE(system.boxes().empty());
  ASSERT_EQ(system.creations().size(), 1u);
  EXPECT_EQ(system.creations()[0].first, kRunLog);
  EXPECT_NE(system.ContentOf(kRunLog).find("nothing to do (/pi)"), std::string::npos);
}

}  // namespace
}  // namespace updater
