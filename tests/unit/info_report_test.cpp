#include <gtest/gtest.h>

#include "diagnostics/info_report.h"
#include "payload/payload_kinds.h"
#include "payload/user_temp_folder.h"
#include "tests/fakes/fake_platform.h"

namespace updater {
namespace {

const std::wstring kOsLine = L"\nOSInfo:\n\tWindows 7 Professional (6.1.0.0)";

class InfoReport : public ::testing::Test, public testing::FakePlatform {
 protected:
  void SetUp() override { system.SetOsVersion(OsVersionInfo{6, 1, 2, 0, 1}, std::nullopt, 0); }
  void Carry(const std::wstring& resource, std::optional<std::wstring> codes,
             std::optional<std::wstring> versions) {
    CarryPayload(resource, std::move(codes), std::move(versions));
  }
  std::wstring Section(const std::wstring& resource) {
    return BuildPayloadReport(system, installer, store, resource, ChooseUserTempFolder(system));
  }
  PayloadStore store{system};
};

struct SectionCase {
  const char* name;
  std::optional<std::wstring> codes, versions;
  std::wstring expected;
};

class InfoReportSection : public InfoReport, public ::testing::WithParamInterface<SectionCase> {};

TEST_P(InfoReportSection, ShowsThePropertiesAsStored) {
  const SectionCase& c = GetParam();
  Carry(kPayloadGlobal, c.codes, c.versions);
  EXPECT_EQ(Section(kPayloadGlobal), c.expected + kOsLine);
  EXPECT_TRUE(system.FilesUnder(L"C:\\Temp\\").empty());  // the copy removed after reading
  EXPECT_EQ(installer.openHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InfoReportSection,
    ::testing::Values(
        SectionCase{
            "three_codes", L"{A};{B};{C}", L"2.1.30.04;2.0.10.0,2.1.0.0",
            L"Products:\n{A}\n{B}\n{C}\nTarget:\n\t2.0.10.0,2.1.0.0\nUpgrade:\n\t2.1.30.04"},
        SectionCase{"codes_ending_with_semicolon", L"{A};", L"2.0;1.0",
                    L"Products:\n{A}\n\nTarget:\n\t1.0\nUpgrade:\n\t2.0"},
        SectionCase{"codes_starting_with_semicolon", L";{A}", L"2.0;1.0",
                    L"Products:\n\n{A}\nTarget:\n\t1.0\nUpgrade:\n\t2.0"},
        SectionCase{"three_versions", L"{A}", L"3.0;1.0;2.0",
                    L"Products:\n{A}\nTarget:\n\t1.0;2.0\nUpgrade:\n\t3.0"},
        SectionCase{"versions_without_semicolon", L"{A}", L"3.0",
                    L"Products:\n{A}\nTarget:\n\t\nUpgrade:\n\t"},
        SectionCase{"versions_starting_with_semicolon", L"{A}", L";3.0",
                    L"Products:\n{A}\nTarget:\n\t\nUpgrade:\n\t"},
        SectionCase{"properties_absent", std::nullopt, std::nullopt,
                    L"Products:\n\nTarget:\n\t\nUpgrade:\n\t"}),
    [](const ::testing::TestParamInfo<SectionCase>& param) {
      return std::string(param.param.name);
    });

TEST_F(InfoReport, ReadsTheHeldCopyThroughOneHandle) {
  Carry(kPayloadGlobal, L"{A}", L"2.0;1.0");
  bool heldWhileRead = false;
  installer.readFile = [this, &heldWhileRead](const std::wstring& path) {
    heldWhileRead = system.IsHeld(path);
    return system.ReadFile(path);
  };
  Section(kPayloadGlobal);
  EXPECT_TRUE(heldWhileRead);
  EXPECT_EQ(installer.openedPackages(), std::vector<std::wstring>{L"C:\\Temp\\MSP2"});
  EXPECT_EQ(system.openFiles(), 0);
  EXPECT_TRUE(system.FilesUnder(L"C:\\Temp\\").empty());
}

TEST_F(InfoReport, AbsentPayloadGivesTheSkeleton) {
  EXPECT_EQ(Section(kPayloadLanguagePack), L"Products:\n\nTarget:\n\t\nUpgrade:\n\t" + kOsLine);
  EXPECT_TRUE(installer.calls().empty());
}

TEST_F(InfoReport, UnreadablePackageLeavesItsSlotsEmpty) {
  system.AddPayload(kPayloadGlobal, std::string("random bytes"));
  EXPECT_EQ(Section(kPayloadGlobal), L"Products:\n\nTarget:\n\t\nUpgrade:\n\t" + kOsLine);
  EXPECT_TRUE(system.FilesUnder(L"C:\\Temp\\").empty());
}

TEST_F(InfoReport, WholeReportWithOnePayload) {
  Carry(kPayloadGlobal, L"{A};{B}", L"2.0;1.0");
  const std::wstring separator = L"\n\n" + std::wstring(47, L'-') + L"\n\n";
  const std::wstring skeleton = L"Products:\n\nTarget:\n\t\nUpgrade:\n\t" + kOsLine;
  const std::wstring expected =
      L"Global MSP\n\nProducts:\n{A}\n{B}\nTarget:\n\t1.0\nUpgrade:\n\t2.0" + kOsLine + separator +
      L"Language pack MSP\n\n" + skeleton + separator + L"Product Specific MSP\n\n" + skeleton;
  EXPECT_EQ(BuildInformationReport(system, installer, store, ChooseUserTempFolder(system)),
            expected);
  EXPECT_EQ(expected.back(), L')');
}

// The box itself (caption "Info", the warning icon, shown under "/q" too) is the entry's.
TEST_F(InfoReport, SectionsBetweenTwoSeparatorsWithoutCarriageReturns) {
  Carry(kPayloadGlobal, L"{A}", L"2.0;1.0");
  const std::wstring text =
      BuildInformationReport(system, installer, store, ChooseUserTempFolder(system));
  size_t separators = 0;
  for (size_t at = 0; (at = text.find(std::wstring(47, L'-'), at)) != std::wstring::npos; ++at) {
    ++separators;
  }
  EXPECT_EQ(separators, 2u);
  EXPECT_EQ(text.find(L'\r'), std::wstring::npos);
}

TEST_F(InfoReport, OsLineOfAPlatformThatIsNotNt) {
  system.SetOsVersion(OsVersionInfo{4, 10, 1, 0, 1}, std::nullopt, 0);
  const std::wstring section = Section(kPayloadProductSpecific);
  const std::wstring osLine = L"\nOSInfo:\n\tWindows(0.0.0.0)";
  EXPECT_EQ(section.substr(section.size() - osLine.size()), osLine);
}

}  // namespace
}  // namespace updater
