#include <gtest/gtest.h>

#include "diagnostics/info_report.h"
#include "tests/fakes/fake_installer.h"
#include "tests/fakes/fake_system.h"

namespace updater {
namespace {

using testing::FakeInstaller;
using testing::FakeSystem;

const std::wstring kOsLine = L"\nOSInfo:\n\tWindows 7 Professional (6.1.0.0)";

class InfoReport : public ::testing::Test {
 protected:
  void SetUp() override {
    system.SetOsVersion(OsVersionInfo{6, 1, 2, 0, 1}, std::nullopt, 0);
    installer.readFile = [this](const std::wstring& path) { return system.ReadFile(path); };
  }
  void Carry(const std::wstring& resource, std::optional<std::wstring> codes,
             std::optional<std::wstring> versions) {
    const std::string content = "MSP " + std::string(resource.begin(), resource.end());
    system.AddPayload(resource, content);
    installer.AddPackageContent(content, codes, versions);
  }
  std::wstring Section(const std::wstring& resource) {
    return BuildPayloadReport(system, installer, store, resource);
  }
  FakeSystem system;
  FakeInstaller installer;
  PayloadStore store{system};
};

TEST_F(InfoReport, Sections) {
  struct Case {
    const char* what;
    std::optional<std::wstring> codes, versions;
    std::wstring expected;
  };
  const Case cases[] = {
      {"three codes", L"{A};{B};{C}", L"2.1.30.04;2.0.10.0,2.1.0.0",
       L"Products:\n{A}\n{B}\n{C}\nTarget:\n\t2.0.10.0,2.1.0.0\nUpgrade:\n\t2.1.30.04"},
      {"codes ending with ;", L"{A};", L"2.0;1.0",
       L"Products:\n{A}\n\nTarget:\n\t1.0\nUpgrade:\n\t2.0"},
      {"codes starting with ;", L";{A}", L"2.0;1.0",
       L"Products:\n\n{A}\nTarget:\n\t1.0\nUpgrade:\n\t2.0"},
      {"three versions", L"{A}", L"3.0;1.0;2.0",
       L"Products:\n{A}\nTarget:\n\t1.0;2.0\nUpgrade:\n\t3.0"},
      {"versions without ;", L"{A}", L"3.0", L"Products:\n{A}\nTarget:\n\t\nUpgrade:\n\t"},
      {"versions starting with ;", L"{A}", L";3.0", L"Products:\n{A}\nTarget:\n\t\nUpgrade:\n\t"},
      {"properties absent", std::nullopt, std::nullopt, L"Products:\n\nTarget:\n\t\nUpgrade:\n\t"},
  };
  for (const Case& c : cases) {
    Carry(kPayloadGlobal, c.codes, c.versions);
    EXPECT_EQ(Section(kPayloadGlobal), c.expected + kOsLine) << c.what;
  }
  EXPECT_TRUE(system.FilesUnder(L"C:\\Temp\\").empty());  // every copy removed after reading
  EXPECT_EQ(installer.openHandles(), 0);
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
  EXPECT_EQ(BuildInformationReport(system, installer, store), expected);
  EXPECT_EQ(expected.back(), L')');
}

TEST_F(InfoReport, ShownAsOneWarningBoxEvenWhenQuiet) {
  Carry(kPayloadGlobal, L"{A}", L"2.0;1.0");
  ShowInformationReport(system, installer, store);
  ASSERT_EQ(system.boxes().size(), 1u);
  EXPECT_EQ(system.boxes()[0].caption, L"Info");
  EXPECT_EQ(system.boxes()[0].type, 0x50030u);
  const std::wstring& text = system.boxes()[0].text;
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
