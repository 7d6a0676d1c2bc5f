#include "diagnostics/info_report.h"

#include <algorithm>

#include "diagnostics/os_description.h"
#include "inspection/summary.h"
#include "payload/payload_kinds.h"

namespace updater {
namespace {

constexpr wchar_t kSeparator[] = L"\n\n-----------------------------------------------\n\n";

}  // namespace

std::wstring BuildPayloadReport(System& system, Installer& installer, PayloadStore& store,
                                const std::wstring& resourceName, const FolderChoice& copyFolder) {
  std::wstring codes;
  std::wstring upgradeVersion;
  std::wstring targetVersions;
  {
    // The copy is held while it is read and deleted right after.
    const CopyResult copy = store.HoldPayloadCopy(resourceName, copyFolder);
    if (copy.status == ExtractStatus::kWritten) {
      const PatchSummary summary = ReadPatchSummary(installer, copy.copy->fullPath());
      if (summary.codes) codes = *summary.codes;
      std::replace(codes.begin(), codes.end(), L';', L'\n');
      const Outcome<VersionTexts> versions =
          summary.versions ? SplitVersionProperty(*summary.versions) : summary.versions.failure();
      if (versions) {
        upgradeVersion = versions->upgradeVersion;
        targetVersions = versions->targetVersions;
      }
    }
  }

  return L"Products:\n" + codes + L"\nTarget:\n\t" + targetVersions + L"\nUpgrade:\n\t" +
         upgradeVersion + L"\nOSInfo:\n\t" + DescribeWindows(system);
}

std::wstring BuildInformationReport(System& system, Installer& installer, PayloadStore& store,
                                    const FolderChoice& copyFolder) {
  std::wstring report;
  for (const PayloadKind& kind : kPayloadKinds) {
    if (!report.empty()) report += kSeparator;
    report += kind.reportTitle;
    report += L"\n\n";
    report += BuildPayloadReport(system, installer, store, kind.resourceName, copyFolder);
  }
  return report;
}

}  // namespace updater
