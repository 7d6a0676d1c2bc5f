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
  PatchSummary Read(const std::wstring& path = kPatch) { return ReadPatchSummary(installer, path); }
  FakeSystem system;
  FakeInstaller installer;
};

struct SplitCase {
  const char* name;
  std::wstring value;
  bool ok;
  std::wstring upgrade, targets;
};

class VersionSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(VersionSplit, AtTheFirstSemicolon) {
  const SplitCase& c = GetParam();
  const Outcome<VersionTexts> split = SplitVersionProperty(c.value);
  ASSERT_EQ(split.ok(), c.ok);
  if (c.ok) {
    EXPECT_EQ(split->upgradeVersion, c.upgrade);
    EXPECT_EQ(split->targetVersions, c.targets);
  } else {
    EXPECT_EQ(split.error(), kErrorInvalidVersionProperty);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionSplit,
    ::testing::Values(SplitCase{"one_target", L"2.1.30.04;2.0.10.0", true, L"2.1.30.04",
                                L"2.0.10.0"},
                      SplitCase{"two_targets", L"2.1.30.04;2.0.10.0,2.1.0.0", true, L"2.1.30.04",
                                L"2.0.10.0,2.1.0.0"},
                      SplitCase{"more_semicolons", L"a;b;c", true, L"a", L"b;c"},
                      SplitCase{"no_targets", L"2.0;", true, L"2.0", L""},
                      SplitCase{"empty", L"", false, L"", L""},
                      SplitCase{"no_semicolon", L"2.0.0.0", false, L"", L""},
                      SplitCase{"semicolon_first", L";1.0", false, L"", L""}),
    [](const ::testing::TestParamInfo<SplitCase>& param) { return std::string(param.param.name); });

TEST(ProductCodes, SplitUpToTheFirstEmptyEntry) {
  using List = std::vector<std::wstring>;
  EXPECT_EQ(SplitProductCodes(L"{A};{B};{C}"), (List{L"{A}", L"{B}", L"{C}"}));
  EXPECT_EQ(SplitProductCodes(L"{A};"), (List{L"{A}"}));
  EXPECT_EQ(SplitProductCodes(L"{A};;{B}"), (List{L"{A}"}));
  EXPECT_EQ(SplitProductCodes(L";{A}"), List{});
  EXPECT_EQ(SplitProductCodes(L""), List{});
  EXPECT_EQ(SplitProductCodes(L"{a};{b};;"), (List{L"{a}", L"{b}"}));
}

TEST_F(Summary, OneHandleGivesBothPropertiesAsStored) {
  installer.AddPackage(kPatch, L"{A};{B}", L"2;1");
  const PatchSummary summary = Read();
  ASSERT_TRUE(summary.codes.ok());
  ASSERT_TRUE(summary.versions.ok());
  EXPECT_EQ(*summary.codes, L"{A};{B}");
  EXPECT_EQ(*summary.versions, L"2;1");
  const std::vector<std::wstring> expected = {L"GetSummaryInformation", L"SummaryInfoGetProperty",
                                              L"SummaryInfoGetProperty", L"CloseHandle"};
  EXPECT_EQ(installer.calls(), expected);
  EXPECT_EQ(installer.openHandles(), 0);
}

TEST_F(Summary, OpensOnlyAFullPathWithUpdateCountZero) {
  system.SetCurrentDirectory(L"C:\\Temp");
  installer.AddPackage(kPatch, L"{A};{B}", L"2;1");
  EXPECT_EQ(*Read(kPatch).codes, L"{A};{B}");
  EXPECT_EQ(installer.openedPackages(), std::vector<std::wstring>{kPatch});
  // The copy's full name is resolved once, where it is made; a name relative to the current
  // folder is refused, never opened there.
  EXPECT_EQ(Read(L"MSP2").codes.error(), kErrorBadPathname);
  EXPECT_EQ(installer.openedPackages(), std::vector<std::wstring>{kPatch});
}

TEST_F(Summary, CodesAreReturnedAsStored) {
  for (std::wstring value : {L"", L"{A};", L";{A}", L"{a};{b};;"}) {
    installer.AddPackage(kPatch, value, L"2;1");
    EXPECT_EQ(*Read().codes, value);
  }
}

TEST_F(Summary, LongPropertyIsReadWholeThroughOneRetry) {
  for (size_t length : {2047u, 2048u, 2400u, 100000u}) {
    std::wstring value;
    while (value.size() < length) value += L"{12345678-1234-1234-1234-123456789012};";
    value.resize(length);
    installer.AddPackage(kPatch, value, L"2;1");
    const PatchSummary summary = Read();
    ASSERT_TRUE(summary.codes.ok()) << length;
    EXPECT_EQ(*summary.codes, value) << length;
  }
  EXPECT_EQ(installer.openHandles(), 0);
}

TEST_F(Summary, ReadErrorsStayWithTheirProperty) {
  installer.AddPackage(kPatch, L"{A}", L"2;1");
  // The version property answers "more data" twice: it fails, the code property still reads.
  installer.scriptedPropertyResults = {kErrorMoreData, kErrorMoreData};
  PatchSummary summary = Read();
  EXPECT_EQ(summary.versions.error(), kErrorMoreData);
  EXPECT_EQ(*summary.codes, L"{A}");

  installer.scriptedPropertyResults = {0, 1627};
  summary = Read();
  EXPECT_EQ(*summary.versions, L"2;1");
  EXPECT_EQ(summary.codes.error(), 1627u);
  EXPECT_EQ(installer.openHandles(), 0);
}

TEST_F(Summary, ValueEndsAtItsFirstNul) {
  // The fuzzer's committed seed tests/fuzz/corpus/version_split_fuzz/nul-after-the-separator.
  installer.AddPackage(kPatch, L"{A}", std::wstring(L"*;\0\x08", 4));
  const PatchSummary summary = Read();
  ASSERT_TRUE(summary.versions.ok());
  EXPECT_EQ(*summary.versions, L"*;");
  const Outcome<VersionTexts> split = SplitVersionProperty(*summary.versions);
  ASSERT_TRUE(split.ok());
  EXPECT_EQ(split->upgradeVersion, L"*");
  EXPECT_EQ(split->targetVersions, L"");
}

TEST_F(Summary, AbsentOrNonTextPropertiesReadAsEmpty) {
  installer.AddPackage(kPatch, std::nullopt, std::nullopt);
  EXPECT_EQ(*Read().codes, L"");

  installer.package(kPatch).properties[kPidTemplate] = {L"{A}", 3 /* VT_I4 */};
  EXPECT_EQ(*Read().codes, L"");
  EXPECT_EQ(ReadPatchTargets(installer, kPatch).error(), kErrorInvalidVersionProperty);
}

TEST_F(Summary, PackageThatCannotBeOpenedFailsBothWithTheServicesCode) {
  const PatchSummary summary = Read(L"C:\\Temp\\missing");
  EXPECT_EQ(summary.codes.error(), 1627u);
  EXPECT_EQ(summary.versions.error(), 1627u);
  EXPECT_EQ(installer.openHandles(), 0);
}

TEST_F(Summary, FullPathThatDoesNotFitIsNeverOpened) {
  const std::wstring longPath = L"C:\\" + std::wstring(257, L'p');  // 260 characters
  installer.AddPackage(longPath, L"{A}", L"2;1");
  EXPECT_EQ(Read(longPath).codes.error(), kErrorFilenameExcedRange);
  EXPECT_TRUE(installer.openedPackages().empty());
  const std::wstring fitting = L"C:\\" + std::wstring(256, L'p');  // 259 characters
  installer.AddPackage(fitting, L"{A}", L"2;1");
  EXPECT_TRUE(Read(fitting).codes.ok());
}

TEST_F(Summary, HandleIsClosedOnceWhenAnAllocationFailureLeavesTheRead) {
  installer.AddPackage(kPatch, L"{A}", L"2;1");
  installer.throwOnPropertyRead = true;
  EXPECT_THROW(Read(), std::bad_alloc);
  EXPECT_EQ(installer.openHandles(), 0);
  EXPECT_EQ(installer.doubleCloses(), 0);
}

TEST_F(Summary, PatchTargetsAreTyped) {
  installer.AddPackage(kPatch, L"{A};{B};;{C}", L"2.1.30.04;2.0.10.0,2.1.0.0,,x");
  const Outcome<PatchTargets> targets = ReadPatchTargets(installer, kPatch);
  ASSERT_TRUE(targets.ok());
  EXPECT_EQ(targets->productCodes, (std::vector<std::wstring>{L"{A}", L"{B}"}));
  EXPECT_EQ(targets->upgradeVersion.ToText(), L"2.1.30.4");
  std::vector<std::wstring> versions;
  for (const FourPartVersion& v : targets->targetVersions) versions.push_back(v.ToText());
  // Every text between commas is an entry; an empty one and one without dots read as 0.0.0.0.
  EXPECT_EQ(versions, (std::vector<std::wstring>{L"2.0.10.0", L"2.1.0.0", L"0.0.0.0", L"0.0.0.0"}));
}

TEST_F(Summary, PatchTargetsFailWithTheVersionErrorFirst) {
  installer.AddPackage(kPatch, L"{A}", L"no separator");
  installer.scriptedPropertyResults = {0, 1627};  // the codes cannot be read either
  EXPECT_EQ(ReadPatchTargets(installer, kPatch).error(), kErrorInvalidVersionProperty);
  installer.AddPackage(kPatch, L"{A}", L"2;1");
  installer.scriptedPropertyResults = {0, 1627};
  EXPECT_EQ(ReadPatchTargets(installer, kPatch).error(), 1627u);
}

}  // namespace
}  // namespace updater
