#include "inspection/summary.h"

#include <algorithm>

#include "platform/full_path.h"
#include "platform/path_limits.h"

namespace updater {

SummaryHandle::~SummaryHandle() {
  if (installer_ != nullptr) installer_->CloseHandle(handle_);
}

SummaryHandle::SummaryHandle(SummaryHandle&& other) noexcept
    : installer_(other.installer_), handle_(other.handle_) {
  other.installer_ = nullptr;
}

Outcome<SummaryHandle> OpenSummaryInformation(Installer& installer,
                                              const std::wstring& packagePath) {
  if (!IsFullPath(packagePath)) return Failure{kErrorBadPathname};
  if (packagePath.size() > kMaxPathCapacity - 1) return Failure{kErrorFilenameExcedRange};
  MsiHandle handle = 0;
  const uint32_t result = installer.GetSummaryInformation(packagePath, handle);
  if (result != 0) return Failure{result};
  return SummaryHandle(installer, handle);
}

namespace {

// Reads one text property with the 2048-character buffer and at most one retry after
// ERROR_MORE_DATA.
Outcome<std::wstring> ReadTextProperty(Installer& installer, const SummaryHandle& summary,
                                       uint32_t propertyId) {
  uint32_t capacity = kSummaryBufferCapacity;
  std::vector<wchar_t> buffer(capacity, L'\0');
  uint32_t length = capacity;
  uint16_t type = kVtEmpty;
  uint32_t result =
      installer.SummaryInfoGetProperty(summary.get(), propertyId, type, buffer.data(), length);
  if (result == kErrorMoreData) {
    capacity = length + 1;
    buffer.assign(capacity, L'\0');
    length = capacity;
    type = kVtEmpty;
    result =
        installer.SummaryInfoGetProperty(summary.get(), propertyId, type, buffer.data(), length);
  }
  if (result != 0) return Failure{result};
  // An absent property, or one of another type, leaves the buffer as it was: it holds no text.
  if (type != kVtLpstr) return std::wstring();
  const size_t end = std::min<size_t>(length, capacity - 1);
  return std::wstring(buffer.data(), std::find(buffer.data(), buffer.data() + end, L'\0'));
}

}  // namespace

PatchSummary ReadPatchSummary(Installer& installer, const std::wstring& packagePath) {
  const Outcome<SummaryHandle> summary = OpenSummaryInformation(installer, packagePath);
  if (!summary) return {summary.failure(), summary.failure()};
  Outcome<std::wstring> versions = ReadTextProperty(installer, *summary, kPidKeywords);
  Outcome<std::wstring> codes = ReadTextProperty(installer, *summary, kPidTemplate);
  return {std::move(versions), std::move(codes)};
}

Outcome<VersionTexts> SplitVersionProperty(const std::wstring& value) {
  const size_t separator = value.find(L';');
  if (separator == std::wstring::npos || separator == 0) {
    return Failure{kErrorInvalidVersionProperty};
  }
  return VersionTexts{value.substr(0, separator), value.substr(separator + 1)};
}

std::vector<std::wstring> SplitProductCodes(const std::wstring& codes) {
  const std::wstring entries = codes + L';';
  std::vector<std::wstring> list;
  size_t start = 0;
  for (size_t end; (end = entries.find(L';', start)) != std::wstring::npos && end != start;
       start = end + 1) {
    list.push_back(entries.substr(start, end - start));
  }
  return list;
}

Outcome<PatchTargets> ReadPatchTargets(Installer& installer, const std::wstring& packagePath) {
  const PatchSummary summary = ReadPatchSummary(installer, packagePath);
  if (!summary.versions) return summary.versions.failure();
  const Outcome<VersionTexts> versions = SplitVersionProperty(*summary.versions);
  if (!versions) return versions.failure();
  if (!summary.codes) return summary.codes.failure();

  PatchTargets targets;
  targets.productCodes = SplitProductCodes(*summary.codes);
  targets.upgradeVersion = FourPartVersion::FromText(versions->upgradeVersion);
  const std::wstring entries = versions->targetVersions + L',';
  size_t start = 0;
  for (size_t comma; (comma = entries.find(L',', start)) != std::wstring::npos; start = comma + 1) {
    targets.targetVersions.push_back(
        FourPartVersion::FromText(entries.substr(start, comma - start)));
  }
  return targets;
}

}  // namespace updater
