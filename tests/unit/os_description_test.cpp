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

struct DescriptionCase {
  const char* name;
  uint32_t major, minor, platform;
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
  facts.version = {c.major, c.minor, c.platform, c.suite, c.productType};
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
        DescriptionCase{"vista_home", 6, 0, 2, kWorkstation, kPersonal, kX86, true,
                        L"Windows Vista Home Edition ", L"6.0.0.0"},
        DescriptionCase{"seven_professional", 6, 1, 2, kWorkstation, 0, kX86, true,
                        L"Windows Vista Professional ", L"6.1.0.0"},
        DescriptionCase{"eight_professional", 6, 2, 2, kWorkstation, 0x0100, kX86, true,
                        L"Windows Vista Professional ", L"6.2.0.0"},
        DescriptionCase{"six_three_amd64", 6, 3, 2, kWorkstation, kPersonal, kAmd64, true,
                        L"Windows Vista ", L"6.3.0.0"},
        DescriptionCase{"longhorn_server", 6, 0, 2, kServer, 0, kX86, true,
                        L"Windows Server \"Longhorn\" ", L"6.0.0.0"},
        DescriptionCase{"longhorn_domain_controller", 6, 1, 2, kDomainController, 0, kAmd64, true,
                        L"Windows Server \"Longhorn\" ", L"6.1.0.0"},
        DescriptionCase{"xp_x64", 5, 2, 2, kWorkstation, 0, kAmd64, true,
                        L"Microsoft Windows XP Professional x64 Edition ", L"5.2.0.0"},
        DescriptionCase{"server_2003", 5, 2, 2, kServer, 0, kX86, true,
                        L"Microsoft Windows Server 2003", L"5.2.0.0"},
        DescriptionCase{"five_two_workstation_x86", 5, 2, 2, kWorkstation, 0, kX86, true,
                        L"Microsoft Windows Server 2003Professional ", L"5.2.0.0"},
        DescriptionCase{"xp_home", 5, 1, 2, kWorkstation, kPersonal, kX86, true,
                        L"Microsoft Windows XP Home Edition ", L"5.1.0.0"},
        DescriptionCase{"windows_2000_professional", 5, 0, 2, kWorkstation, 0, kX86, true,
                        L"Microsoft Windows 2000 Professional ", L"5.0.0.0"},
        DescriptionCase{"nt4_workstation", 4, 0, 2, kWorkstation, kPersonal, kX86, true,
                        L"Microsoft Windows NT Workstation 4.0 ", L"4.0.0.0"},
        DescriptionCase{"nt4_basic_query", 4, 0, 2, 0, 0, kX86, false, L"Microsoft Windows NT ",
                        L"4.0.0.0"},
        DescriptionCase{"nt4_server", 4, 0, 2, kServer, 0, kX86, true, L"Microsoft Windows NT ",
                        L"4.0.0.0"},
        DescriptionCase{"nt3_workstation", 3, 51, 2, kWorkstation, 0, kX86, true,
                        L"Microsoft Windows NT Professional ", L"3.51.0.0"},
        DescriptionCase{"ten_workstation", 10, 0, 2, kWorkstation, 0, kX86, true,
                        L"WindowsProfessional ", L"10.0.0.0"},
        DescriptionCase{"ten_home", 10, 0, 2, kWorkstation, kPersonal, kX86, true,
                        L"WindowsHome Edition ", L"10.0.0.0"},
        DescriptionCase{"five_three", 5, 3, 2, kWorkstation, 0, kX86, true, L"WindowsProfessional ",
                        L"5.3.0.0"},
        DescriptionCase{"ten_amd64", 10, 0, 2, kWorkstation, 0, kAmd64, true, L"Windows",
                        L"10.0.0.0"},
        DescriptionCase{"ten_server", 10, 0, 2, kServer, 0, kX86, true, L"Windows", L"10.0.0.0"},
        DescriptionCase{"six_basic_query", 6, 1, 2, 0, 0, kX86, false,
                        L"Windows Server \"Longhorn\" ", L"6.1.0.0"},
        DescriptionCase{"not_nt", 4, 10, 1, kWorkstation, 0, kX86, true, L"Windows", L"0.0.0.0"},
        DescriptionCase{"low_bits_only", 0x10006, 0x20001, 2, kWorkstation, 0, kX86, true,
                        L"WindowsProfessional ", L"6.1.0.0"}),
    [](const ::testing::TestParamInfo<DescriptionCase>& param) {
      return std::string(param.param.name);
    });

TEST(DescribeOperatingSystem, BothQueriesFailing) {
  testing::FakeSystem system;
  system.SetOsVersion(std::nullopt, std::nullopt, kX86);
  std::wstring description = L"Windows";
  FourPartVersion version;
  DescribeOperatingSystem(system, description, version);
  EXPECT_EQ(description, L"Windows");
  EXPECT_EQ(version.ToText(), L"0.0.0.0");
}

TEST(DescribeOperatingSystem, BasicQueryHasNoProductTypeOrSuite) {
  testing::FakeSystem system;
  OsVersionInfo basic{5, 2, 2, kPersonal, kWorkstation};  // fields the basic size cannot carry
  system.SetOsVersion(std::nullopt, basic, kAmd64);
  std::wstring description = L"Windows";
  FourPartVersion version;
  DescribeOperatingSystem(system, description, version);
  EXPECT_EQ(description, L"Microsoft Windows Server 2003");
  EXPECT_EQ(version.ToText(), L"5.2.0.0");
}

TEST(DescribeOperatingSystem, ExtendedQuery) {
  testing::FakeSystem system;
  system.SetOsVersion(OsVersionInfo{6, 1, 2, 0, kWorkstation}, std::nullopt, kX86);
  std::wstring description = L"Windows";
  FourPartVersion version;
  DescribeOperatingSystem(system, description, version);
  EXPECT_EQ(description + L"(" + version.ToText() + L")", L"Windows Vista Professional (6.1.0.0)");
}

}  // namespace
}  // namespace updater
