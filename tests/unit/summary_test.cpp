#include <gtest/gtest.h>

#include "inspection/summary.h"
#include "tests/fakes/fake_installer.h"
#include "tests/fakes/fake_system.h"

namespace updater {
namespace {

using testing::FakeInstaller;
using testing::FakeSystem;

constexpr wchar_t kPatch[] = L"C:\\Temp\\MSP2";

class Summary : public ::testing::Test {
 protected:
  bool ReadVersions(std::wstring& upgrade, std::wstring& targets) {
    return ReadUpgradeAndTargetVersions(system, installer, kPatch, upgrade, targets);
  }
  FakeSystem system;
  FakeInstaller installer;
};

TEST_F(Summary, SplitsTheVersionPropertyAtItsFirstSemicolon) {
  struct Case {
    std::wstring value;
    bool ok;
    std::wstring upgrade, targets;
  };
  const Case cases[] = {
      {L"2.1.30.04;2.0.10.0", true, L"2.1.30.04", L"2.0.10.0"},
      {L"2.1.30.04;2.0.10.0,2.1.0.0", true, L"2.1.30.04", L"2.0.10.0,2.1.0.0"},
      {L"a;b;c", true, L"a", L"b;c"},
      {L"2.0;", true, L"2.0", L""},
      {L"", false, L"old-u", L"old-t"},
      {L"2.0.0.0", false, L"old-u", L"old-t"},
      {L";1.0", false, L"old-u", L"old-t"},
  };
  for (const Case& c : cases) {
    installer.AddPackage(kPatch, L"{A}", c.value);
    system.SetLastErrorCode(0);
    std::wstring upgrade = L"old-u", targets = L"old-t";
    EXPECT_EQ(ReadVersions(upgrade, targets), c.ok) << std::string(c.value.begin(), c.value.end());
    EXPECT_EQ(upgrade, c.upgrade);
    EXPECT_EQ(targets, c.targets);
    EXPECT_EQ(system.LastError(), c.ok ? 0u : kErrorInvalidVersionProperty);
  }
  EXPECT_EQ(installer.openHandles(), 0);
  EXPECT_EQ(installer.doubleCloses(), 0);
}

TEST_F(Summary, OpensTheFullPathWithUpdateCountZero) {
  system.SetCurrentDirectory(L"C:\\Temp");
  installer.AddPackage(kPatch, L"{A};{B}", L"2;1");
  std::wstring codes;
  EXPECT_TRUE(ReadTargetProductCodes(system, installer, L"MSP2", codes));
  EXPECT_EQ(codes, L"{A};{B}");
  EXPECT_EQ(installer.openedPackages(), std::vector<std::wstring>{kPatch});
}

TEST_F(Summary, CodesAreReturnedAsStored) {
  for (std::wstring value : {L"", L"{A};", L";{A}", L"{a};{b};;"}) {
    installer.AddPackage(kPatch, value, L"2;1");
    std::wstring codes = L"stale";
    EXPECT_TRUE(ReadTargetProductCodes(system, installer, kPatch, codes));
    EXPECT_EQ(codes, value);
  }
}

TEST_F(Summary, LongPropertyIsReadWholeThroughOneRetry) {
  for (size_t length : {2047u, 2048u, 2400u, 100000u}) {
    std::wstring value;
    while (value.size() < length) value += L"{12345678-1234-1234-1234-123456789012};";
    value.resize(length);
    installer.AddPackage(kPatch, value, L"2;1");
    std::wstring codes;
    EXPECT_TRUE(ReadTargetProductCodes(system, installer, kPatch, codes)) << length;
    EXPECT_EQ(codes, value) << length;
  }
  EXPECT_EQ(installer.openHandles(), 0);
}

TEST_F(Summary, SecondMoreDataFails) {
  installer.AddPackage(kPatch, L"{A}", L"2;1");
  installer.scriptedPropertyResults = {kErrorMoreData, kErrorMoreData};
  std::wstring codes = L"stale";
  EXPECT_FALSE(ReadTargetProductCodes(system, installer, kPatch, codes));
  EXPECT_EQ(codes, L"stale");
  EXPECT_EQ(installer.openHandles(), 0);
}

TEST_F(Summary, OtherErrorsFailWithTheOutputsUnchanged) {
  installer.AddPackage(kPatch, L"{A}", L"2;1");
  installer.scriptedPropertyResults = {1627};
  std::wstring upgrade = L"u", targets = L"t";
  EXPECT_FALSE(ReadVersions(upgrade, targets));
  EXPECT_EQ(upgrade, L"u");
  EXPECT_EQ(targets, L"t");
  EXPECT_EQ(installer.openHandles(), 0);
}

TEST_F(Summary, AbsentOrNonTextPropertiesReadAsEmpty) {
  installer.AddPackage(kPatch, std::nullopt, std::nullopt);
  std::wstring codes = L"stale";
  EXPECT_TRUE(ReadTargetProductCodes(system, installer, kPatch, codes));
  EXPECT_EQ(codes, L"");

  installer.package(kPatch).properties[kPidTemplate] = {L"{A}", 3 /* VT_I4 */};
  codes = L"stale";
  EXPECT_TRUE(ReadTargetProductCodes(system, installer, kPatch, codes));
  EXPECT_EQ(codes, L"");

  std::wstring upgrade = L"u", targets = L"t";
  EXPECT_FALSE(ReadVersions(upgrade, targets));  // no text, so no ";"
  EXPECT_EQ(system.LastError(), kErrorInvalidVersionProperty);
}

TEST_F(Summary, PackageThatCannotBeOpened) {
  std::wstring codes = L"stale", upgrade = L"u", targets = L"t";
  EXPECT_FALSE(ReadTargetProductCodes(system, installer, L"C:\\Temp\\missing", codes));
  EXPECT_FALSE(ReadVersions(upgrade, targets));
  EXPECT_EQ(codes, L"stale");
  EXPECT_EQ(upgrade, L"u");
  EXPECT_EQ(installer.openHandles(), 0);
}

TEST_F(Summary, FullPathThatDoesNotFitIsNeverOpened) {
  const std::wstring longPath = L"C:\\" + std::wstring(257, L'p');  // 260 characters
  installer.AddPackage(longPath, L"{A}", L"2;1");
  std::wstring codes = L"stale";
  EXPECT_FALSE(ReadTargetProductCodes(system, installer, longPath, codes));
  EXPECT_TRUE(installer.openedPackages().empty());
  const std::wstring fitting = L"C:\\" + std::wstring(256, L'p');  // 259 characters
  installer.AddPackage(fitting, L"{A}", L"2;1");
  EXPECT_TRUE(ReadTargetProductCodes(system, installer, fitting, codes));
}

TEST_F(Summary, HandleIsClosedOnceWhenAnAllocationFailureLeavesTheRead) {
  installer.AddPackage(kPatch, L"{A}", L"2;1");
  installer.throwOnPropertyRead = true;
  std::wstring codes;
  EXPECT_THROW(ReadTargetProductCodes(system, installer, kPatch, codes), std::bad_alloc);
  EXPECT_EQ(installer.openHandles(), 0);
  EXPECT_EQ(installer.doubleCloses(), 0);
}

TEST_F(Summary, EachReadOpensAndClosesItsOwnHandle) {
  installer.AddPackage(kPatch, L"{A}", L"2;1");
  std::wstring codes, upgrade, targets;
  ReadTargetProductCodes(system, installer, kPatch, codes);
  ReadVersions(upgrade, targets);
  const std::vector<std::wstring> expected = {
      L"GetSummaryInformation", L"SummaryInfoGetProperty", L"CloseHandle",
      L"GetSummaryInformation", L"SummaryInfoGetProperty", L"CloseHandle"};
  EXPECT_EQ(installer.calls(), expected);
}

}  // namespace
}  // namespace updater
