#include "diagnostics/os_description.h"

#include <utility>

namespace updater {
namespace {

// The first build of each release that shares version 10.0 with an older one.
constexpr uint32_t kWindows11Build = 22000;
constexpr uint32_t kServer2019Build = 17763;
constexpr uint32_t kServer2022Build = 20348;
constexpr uint32_t kServer2025Build = 26100;

std::wstring NamedFromSix(uint32_t major, uint32_t minor, uint32_t build, bool workstation) {
  if (major == 10 && minor == 0) {
    if (workstation) return build >= kWindows11Build ? L"Windows 11 " : L"Windows 10 ";
    if (build >= kServer2025Build) return L"Windows Server 2025 ";
    if (build >= kServer2022Build) return L"Windows Server 2022 ";
    if (build >= kServer2019Build) return L"Windows Server 2019 ";
    return L"Windows Server 2016 ";
  }
  if (major == 6) {
    switch (minor) {
      case 0:
        return workstation ? L"Windows Vista " : L"Windows Server 2008 ";
      case 1:
        return workstation ? L"Windows 7 " : L"Windows Server 2008 R2 ";
      case 2:
        return workstation ? L"Windows 8 " : L"Windows Server 2012 ";
      case 3:
        return workstation ? L"Windows 8.1 " : L"Windows Server 2012 R2 ";
      default:
        break;
    }
  }
  return workstation ? L"Windows " : L"Windows Server ";
}

// Queries at the full size, else the basic one; the basic structure has no product type or
// suite mask. The flag tells whether the full size answered.
template <typename Query>
std::optional<std::pair<OsVersionInfo, bool>> QueryEitherSize(Query query) {
  if (std::optional<OsVersionInfo> full = query(kOsVersionInfoExSize)) return {{*full, true}};
  std::optional<OsVersionInfo> basic = query(kOsVersionInfoSize);
  if (!basic) return std::nullopt;
  basic->productType = 0;
  basic->suiteMask = 0;
  return {{*basic, false}};
}

}  // namespace

std::optional<std::wstring> ReleaseName(uint32_t major, uint32_t minor, uint32_t build,
                                        uint8_t productType, uint16_t architecture) {
  const bool workstation = productType == kVerNtWorkstation;
  if (major >= 6) return NamedFromSix(major, minor, build, workstation);
  if (major == 5 && minor == 2) {
    return workstation && architecture == kProcessorArchitectureAmd64
               ? L"Microsoft Windows XP Professional x64 Edition "
               : L"Microsoft Windows Server 2003";
  }
  if (major == 5 && minor == 1) return L"Microsoft Windows XP ";
  if (major == 5 && minor == 0) return L"Microsoft Windows 2000 ";
  if (major <= 4) return L"Microsoft Windows NT ";
  return std::nullopt;
}

void DescribeFromFacts(const OsFacts& facts, std::wstring& description, FourPartVersion& version) {
  const OsVersionInfo& os = facts.version;
  if (os.platformId != kVerPlatformWin32Nt) return;
  version.Set(os.majorVersion, os.minorVersion, 0, 0);

  if (std::optional<std::wstring> name =
          ReleaseName(os.majorVersion, os.minorVersion, os.buildNumber, os.productType,
                      facts.processorArchitecture)) {
    description = std::move(*name);
  }

  const bool workstation = os.productType == kVerNtWorkstation;
  const bool amd64 = facts.processorArchitecture == kProcessorArchitectureAmd64;
  if (facts.extendedQuery && workstation && !amd64) {
    if (os.majorVersion == 4) {
      description += L"Workstation 4.0 ";
    } else if (os.suiteMask & kVerSuitePersonal) {
      description += L"Home Edition ";
    } else {
      description += L"Professional ";
    }
  }
}

void DescribeOperatingSystem(System& system, std::wstring& description, FourPartVersion& version) {
  auto answer = QueryEitherSize([&](uint32_t size) { return system.QueryTrueOsVersion(size); });
  if (!answer) {
    // An ntdll without RtlGetVersion: GetVersionExW is all there is.
    answer = QueryEitherSize([&](uint32_t size) -> std::optional<OsVersionInfo> {
      OsVersionInfo info;
      if (!system.QueryOsVersion(size, info)) return std::nullopt;
      return info;
    });
  }
  if (!answer) return;
  OsFacts facts;
  facts.version = answer->first;
  facts.extendedQuery = answer->second;
  facts.processorArchitecture = system.ProcessorArchitecture();
  DescribeFromFacts(facts, description, version);
}

std::wstring DescribeWindows(System& system) {
  std::wstring description = L"Windows";
  FourPartVersion version;
  DescribeOperatingSystem(system, description, version);
  return description + L"(" + version.ToText() + L")";
}

}  // namespace updater
