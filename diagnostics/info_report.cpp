#include "diagnostics/info_report.h"

#include <algorithm>

#include "diagnostics/os_description.h"
#include "inspection/summary.h"

namespace updater {
namespace {

constexpr wchar_t kSeparator[] = L"\n\n-----------------------------------------------\n\n";

}  // namespace

std::wstring BuildPayloadReport(System& system, Installer& installer, PayloadStore& store,
                                const std::wstring& resourceName) {
  std::wstring path;
  const bool written = store.ExtractPayload(path, resourceName, 0);

  std::wstring codes;
  std::wstring upgradeVersion;
  std::wstring targetVersions;
  if (written) {
    ReadTargetProductCodes(system, installer, path, codes);
    std::replace(codes.begin(), codes.end(), L';', L'\n');
    ReadUpgradeAndTargetVersions(system, installer, path, upgradeVersion, targetVersions);
    system.RemoveFile(path);
  }

  std::wstring osDescription = L"Windows";
  FourPartVersion osVersion;
  osVersion.Clear();
  DescribeOperatingSystem(system, osDescription, osVersion);

  return L"Products:\n" + codes + L"\nTarget:\n\t" + targetVersions + L"\nUpgrade:\n\t" +
         upgradeVersion + L"\nOSInfo:\n\t" + osDescription + L"(" + osVersion.ToText() + L")";
}

std::wstring BuildInformationReport(System& system, Installer& installer, PayloadStore& store) {
  std::wstring report = L"Global MSP\n\n";
  report += BuildPayloadReport(system, installer, store, kPayloadGlobal);
  report += kSeparator;
  report += L"Language pack MSP\n\n";
  report += BuildPayloadReport(system, installer, store, kPayloadLanguagePack);
  report += kSeparator;
  report += L"Product Specific MSP\n\n";
  report += BuildPayloadReport(system, installer, store, kPayloadProductSpecific);
  return report;
}

void ShowInformationReport(System& system, Installer& installer, PayloadStore& store) {
  system.ShowMessageBox(BuildInformationReport(system, installer, store), L"Info", kInfoBoxFlags);
}

}  // namespace updater
