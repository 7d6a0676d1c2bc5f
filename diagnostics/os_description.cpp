#include "diagnostics/os_description.h"

namespace updater {

void DescribeFromFacts(const OsFacts& facts, std::wstring& description, FourPartVersion& version) {
  const OsVersionInfo& os = facts.version;
  if (os.platformId != kVerPlatformWin32Nt) return;
  version.Set(os.majorVersion, os.minorVersion, 0, 0);

  const bool workstation = os.productType == kVerNtWorkstation;
  const bool amd64 = facts.processorArchitecture == kProcessorArchitectureAmd64;
  // Every 6.x release is named as 6.0 was: the report was written for that release, and its
  // readers know the version number beside the name.
  if (os.majorVersion == 6) {
    description = workstation ? L"Windows Vista " : L"Windows Server \"Longhorn\" ";
  } else if (os.majorVersion == 5 && os.minorVersion == 2) {
    description = workstation && amd64 ? L"Microsoft Windows XP Professional x64 Edition "
                                       : L"Microsoft Windows Server 2003";
  } else if (os.majorVersion == 5 && os.minorVersion == 1) {
    description = L"Microsoft Windows XP ";
  } else if (os.majorVersion == 5 && os.minorVersion == 0) {
    description = L"Microsoft Windows 2000 ";
  } else if (os.majorVersion <= 4) {
    description = L"Microsoft Windows NT ";
  }

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
  OsFacts facts;
  facts.extendedQuery = system.QueryOsVersion(kOsVersionInfoExSize, facts.version);
  if (!facts.extendedQuery) {
    facts.version = OsVersionInfo{};
    if (!system.QueryOsVersion(kOsVersionInfoSize, facts.version)) return;
    // The basic structure has no product type or suite mask.
    facts.version.productType = 0;
    facts.version.suiteMask = 0;
  }
  facts.processorArchitecture = system.ProcessorArchitecture();
  DescribeFromFacts(facts, description, version);
}

}  // namespace updater
