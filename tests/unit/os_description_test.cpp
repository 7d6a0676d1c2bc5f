#include <gtest/gtest.h>

#include "diagnostics/os_description.h"
#include "tests/fakes/fake_system.h"

namespace updater {
namespace {

constexpr uint8_t kWorkstation = 1;
constexpr uint8_t kDomainController = 2;
constexpr uint8_t kServer = 3;
constexpr uint16_t kX86 = 0;
constexpr uint16_t kAmd64 = 9;
constexpr uint16_t kPersonal = 0x0200;

// The release names, with the first and last build of each release that shares 10.0.
struct NameCase {
  uint32_t major, minor, build;
  uint8_t productType;
  uint16_t architecture;
  std::optional<std::wstring> name;
};

TEST(ReleaseName, Table) {
  const NameCase cases[] = {
      {10, 0, 0, kWorkstation, kAmd64, L"Windows 10 "},
      {10, 0, 10240, kWorkstation, kAmd64, L"Windows 10 "},
      {10, 0, 21999, kWorkstation, kX86, L"Windows 10 "},
      {10, 0, 22000, kWorkstation, kAmd64, L"Windows 11 "},
      {10, 0, 26100, kWorkstation, kAmd64, L"Windows 11 "},
      {10, 0, 14393, kServer, kAmd64, L"Windows Server 2016 "},
      {10, 0, 17762, kServer, kAmd64, L"Windows Server 2016 "},
      {10, 0, 17763, kServer, kAmd64, L"Windows Server 2019 "},
      {10, 0, 20347, kDomainController, kAmd64, L"Windows Server 2019 "},
      {10, 0, 20348, kServer, kAmd64, L"Windows Server 2022 "},
      {10, 0, 26099, kServer, kAmd64, L"Windows Server 2022 "},
      {10, 0, 26100, kServer, kAmd64, L"Windows Server 2025 "},
      {10, 0, 0xFFFFFFFF, kServer, kAmd64, L"Windows Server 2025 "},
      {10, 0, 22000, 0, kX86, L"Windows Server 2022 "},  // no product type: a server
      {6, 3, 9600, kWorkstation, kX86, L"Windows 8.1 "},
      {6, 3, 9600, kServer, kAmd64, L"Windows Server 2012 R2 "},
      {6, 2, 9200, kWorkstation, kAmd64, L"Windows 8 "},
      {6, 2, 9200, kDomainController, kAmd64, L"Windows Server 2012 "},
      {6, 1, 7601, kWorkstation, kAmd64, L"Windows 7 "},
      {6, 1, 7601, kServer, kAmd64, L"Windows Server 2008 R2 "},
      {6, 0, 6002, kWorkstation, kX86, L"Windows Vista "},
      {6, 0, 6002, kServer, kX86, L"Windows Server 2008 "},
      {6, 4, 9841, kWorkstation, kX86, L"Windows "},
      {6, 4, 9841, kServer, kX86, L"Windows Server "},
      {10, 1, 30000, kWorkstation, kAmd64, L"Windows "},
      {10, 1, 30000, kServer, kAmd64, L"Windows Server "},
      {7, 0, 0, kWorkstation, kX86, L"Windows "},
      {11, 0, 22000, kWorkstation, kX86, L"Windows "},
      {12, 0, 0, kServer, kX86, L"Windows Server "},
      {5, 2, 3790, kWorkstation, kAmd64, L"Microsoft Windows XP Professional x64 Edition "},
      {5, 2, 3790, kWorkstation, kX86, L"Microsoft Windows Server 2003"},
      {5, 2, 3790, kServer, kAmd64, L"Microsoft Windows Server 2003"},
      {5, 1, 2600, kWorkstation, kX86, L"Microsoft Windows XP "},
      {5, 1, 2600, kServer, kAmd64, L"Microsoft Windows XP "},
      {5, 0, 2195, kServer, kX86, L"Microsoft Windows 2000 "},
      {4, 0, 1381, kWorkstation, kX86, L"Microsoft Windows NT "},
      {3, 51, 1057, kServer, kX86, L"Microsoft Windows NT "},
      {0, 0, 0, 0, kX86, L"Microsoft Windows NT "},
      {5, 3, 0, kWorkstation, kX86, std::nullopt},
      {5, 9, 0, kServer, kAmd64, std::nullopt},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(ReleaseName(c.major, c.minor, c.build, c.productType, c.architecture), c.name)
        << c.major << "." << c.minor << " build " << c.build << " type " << int{c.productType}
        << " architecture " << c.architecture;
  }
}

struct DescriptionCase {
  const char* name;
  uint32_t major, minor, build, platform;
  uint8_t productType;
  uint16_t suite, architecture;
  bool extended;
  std::wstring description;
  std::wstring version;
};

class Description : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(Description, FromFacts) {
  const DescriptionCase& c = GetParam();
  OsFacts facts;
  facts.version = {c.major, c.minor, c.platform, c.suite, c.productType, c.build};
  facts.processorArchitecture = c.architecture;
  facts.extendedQuery = c.extended;
  std::wstring description = L"Windows";
  FourPartVersion version;
  DescribeFromFacts(facts, description, version);
  EXPECT_EQ(description, c.description);
  EXPECT_EQ(version.ToText(), c.version);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Description,
    ::testing::Values(
        DescriptionCase{"vista_home", 6, 0, 6002, 2, kWorkstation, kPersonal, kX86, true,
                        L"Windows Vista Home Edition ", L"6.0.0.0"},
        DescriptionCase{"seven_professional", 6, 1, 7601, 2, kWorkstation, 0, kX86, true,
                        L"Windows 7 Professional ", L"6.1.0.0"},
        DescriptionCase{"seven_amd64", 6, 1, 7601, 2, kWorkstation, 0, kAmd64, true, L"Windows 7 ",
                        L"6.1.0.0"},
        DescriptionCase{"eight_professional", 6, 2, 9200, 2, kWorkstation, 0x0100, kX86, true,
                        L"Windows 8 Professional ", L"6.2.0.0"},
        DescriptionCase{"eight_one_amd64", 6, 3, 9600, 2, kWorkstation, kPersonal, kAmd64, true,
                        L"Windows 8.1 ", L"6.3.0.0"},
        DescriptionCase{"server_2008", 6, 0, 6002, 2, kServer, 0, kX86, true,
                        L"Windows Server 2008 ", L"6.0.0.0"},
        DescriptionCase{"server_2008_r2_domain_controller", 6, 1, 7601, 2, kDomainController, 0,
                        kAmd64, true, L"Windows Server 2008 R2 ", L"6.1.0.0"},
        DescriptionCase{"ten_amd64", 10, 0, 19045, 2, kWorkstation, 0, kAmd64, true, L"Windows 10 ",
                        L"10.0.0.0"},
        DescriptionCase{"ten_x86_home", 10, 0, 19045, 2, kWorkstation, kPersonal, kX86, true,
                        L"Windows 10 Home Edition ", L"10.0.0.0"},
        DescriptionCase{"eleven_amd64", 10, 0, 22631, 2, kWorkstation, 0, kAmd64, true,
                        L"Windows 11 ", L"10.0.0.0"},
        DescriptionCase{"server_2022", 10, 0, 20348, 2, kServer, 0, kX86, true,
                        L"Windows Server 2022 ", L"10.0.0.0"},
        DescriptionCase{"ten_basic_query", 10, 0, 19045, 2, 0, 0, kX86, false,
                        L"Windows Server 2019 ", L"10.0.0.0"},
        DescriptionCase{"unknown_later_workstation", 11, 0, 0, 2, kWorkstation, 0, kX86, true,
                        L"Windows Professional ", L"11.0.0.0"},
        DescriptionCase{"unknown_later_server", 11, 0, 0, 2, kServer, 0, kX86, true,
                        L"Windows Server ", L"11.0.0.0"},
        DescriptionCase{"xp_x64", 5, 2, 3790, 2, kWorkstation, 0, kAmd64, true,
                        L"Microsoft Windows XP Professional x64 Edition ", L"5.2.0.0"},
        DescriptionCase{"server_2003", 5, 2, 3790, 2, kServer, 0, kX86, true,
                        L"Microsoft Windows Server 2003", L"5.2.0.0"},
        DescriptionCase{"five_two_workstation_x86", 5, 2, 3790, 2, kWorkstation, 0, kX86, true,
                        L"Microsoft Windows Server 2003Professional ", L"5.2.0.0"},
        DescriptionCase{"xp_home", 5, 1, 2600, 2, kWorkstation, kPersonal, kX86, true,
                        L"Microsoft Windows XP Home Edition ", L"5.1.0.0"},
        DescriptionCase{"xp_amd64", 5, 1, 2600, 2, kWorkstation, 0, kAmd64, true,
                        L"Microsoft Windows XP ", L"5.1.0.0"},
        DescriptionCase{"windows_2000_professional", 5, 0, 2195, 2, kWorkstation, 0, kX86, true,
                        L"Microsoft Windows 2000 Professional ", L"5.0.0.0"},
        DescriptionCase{"nt4_workstation", 4, 0, 1381, 2, kWorkstation, kPersonal, kX86, true,
                        L"Microsoft Windows NT Workstation 4.0 ", L"4.0.0.0"},
        DescriptionCase{"nt4_basic_query", 4, 0, 1381, 2, 0, 0, kX86, false,
                        L"Microsoft Windows NT ", L"4.0.0.0"},
        DescriptionCase{"nt4_server", 4, 0, 1381, 2, kServer, 0, kX86, true,
                        L"Microsoft Windows NT ", L"4.0.0.0"},
        DescriptionCase{"nt3_workstation", 3, 51, 1057, 2, kWorkstation, 0, kX86, true,
                        L"Microsoft Windows NT Professional ", L"3.51.0.0"},
        DescriptionCase{"five_three", 5, 3, 0, 2, kWorkstation, 0, kX86, true,
                        L"WindowsProfessional ", L"5.3.0.0"},
        DescriptionCase{"five_three_server", 5, 3, 0, 2, kServer, 0, kX86, true, L"Windows",
                        L"5.3.0.0"},
        DescriptionCase{"six_basic_query", 6, 1, 7601, 2, 0, 0, kX86, false,
                        L"Windows Server 2008 R2 ", L"6.1.0.0"},
        DescriptionCase{"not_nt", 10, 0, 19045, 1, kWorkstation, 0, kX86, true, L"Windows",
                        L"0.0.0.0"},
        // The names come from the full numbers, the version from their low 16 bits.
        DescriptionCase{"low_bits_only", 0x10006, 0x20001, 7601, 2, kWorkstation, 0, kX86, true,
                        L"Windows Professional ", L"6.1.0.0"},
        DescriptionCase{"low_bits_of_ten", 0x1000A, 0, 19045, 2, kWorkstation, 0, kAmd64, true,
                        L"Windows ", L"10.0.0.0"}),
    [](const ::testing::TestParamInfo<DescriptionCase>& param) {
      return std::string(param.param.name);
    });

std::wstring Describe(testing::FakeSystem& system) {
  std::wstring description = L"Windows";
  FourPartVersion version;
  DescribeOperatingSystem(system, description, version);
  return description + L"(" + version.ToText() + L")";
}

// What GetVersionExW answers on Windows 10 to a program without a compatibility manifest, and
// what RtlGetVersion answers there.
const OsVersionInfo kCompatibilityVersion{6, 2, 2, 0, kWorkstation, 9200};
const OsVersionInfo kWindows10{10, 0, 2, 0, kWorkstation, 19045};

TEST(DescribeOperatingSystem, TakesTheTrueVersionOverTheCompatibilityOne) {
  testing::FakeSystem system;
  system.SetOsVersion(kCompatibilityVersion, kCompatibilityVersion, kAmd64);
  system.SetTrueOsVersion(kWindows10, kWindows10);
  EXPECT_EQ(Describe(system), L"Windows 10 (10.0.0.0)");
  EXPECT_EQ(system.LegacyVersionQueries(), 0);
}

TEST(DescribeOperatingSystem, TrueQueryAtTheBasicSizeOnly) {
  testing::FakeSystem system;
  system.SetOsVersion(kCompatibilityVersion, kCompatibilityVersion, kX86);
  system.SetTrueOsVersion(std::nullopt, OsVersionInfo{10, 0, 2, kPersonal, kWorkstation, 22631});
  // No product type at the basic size: a server, and no edition word.
  EXPECT_EQ(Describe(system), L"Windows Server 2022 (10.0.0.0)");
  EXPECT_EQ(system.LegacyVersionQueries(), 0);
}

TEST(DescribeOperatingSystem, WithoutTheTrueQueryGetVersionExAnswers) {
  testing::FakeSystem system;
  system.SetOsVersion(kCompatibilityVersion, std::nullopt, kX86);
  EXPECT_EQ(Describe(system), L"Windows 8 Professional (6.2.0.0)");
  EXPECT_EQ(system.LegacyVersionQueries(), 1);
}

TEST(DescribeOperatingSystem, BothQueriesFailing) {
  testing::FakeSystem system;
  system.SetOsVersion(std::nullopt, std::nullopt, kX86);
  std::wstring description = L"Windows";
  FourPartVersion version;
  DescribeOperatingSystem(system, description, version);
  EXPECT_EQ(description, L"Windows");
  EXPECT_EQ(version.ToText(), L"0.0.0.0");
  EXPECT_EQ(system.LegacyVersionQueries(), 2);
}

TEST(DescribeOperatingSystem, BasicQueryHasNoProductTypeOrSuite) {
  testing::FakeSystem system;
  OsVersionInfo basic{5, 2, 2, kPersonal, kWorkstation, 3790};  // fields the basic size lacks
  system.SetOsVersion(std::nullopt, basic, kAmd64);
  EXPECT_EQ(Describe(system), L"Microsoft Windows Server 2003(5.2.0.0)");
}

TEST(DescribeOperatingSystem, ExtendedQuery) {
  testing::FakeSystem system;
  system.SetOsVersion(OsVersionInfo{6, 1, 2, 0, kWorkstation, 7601}, std::nullopt, kX86);
  EXPECT_EQ(Describe(system), L"Windows 7 Professional (6.1.0.0)");
}

}  // namespace
}  // namespace updater
