#include "inspection/summary.h"

#include <algorithm>
#include <vector>

#include "payload/full_path.h"

namespace updater {

SummaryHandle::~SummaryHandle() {
  if (installer_ != nullptr) installer_->CloseHandle(handle_);
}

SummaryHandle::SummaryHandle(SummaryHandle&& other) noexcept
    : installer_(other.installer_), handle_(other.handle_) {
  other.installer_ = nullptr;
}

std::optional<SummaryHandle> OpenSummaryInformation(System& system, Installer& installer,
                                                    const std::wstring& packagePath) {
  std::wstring fullPath;
  if (!GetFullPath(system, packagePath, fullPath)) return std::nullopt;
  MsiHandle handle = 0;
  const uint32_t result = installer.GetSummaryInformation(fullPath, handle);
  if (result != 0) {
    system.SetLastErrorCode(result);
    return std::nullopt;
  }
  return SummaryHandle(installer, handle);
}

namespace {

// Reads one text property with the 2048-character buffer and at most one retry after
// ERROR_MORE_DATA.
bool ReadTextProperty(System& system, Installer& installer, const std::wstring& packagePath,
                      uint32_t propertyId, std::wstring& value) {
  std::optional<SummaryHandle> summary = OpenSummaryInformation(system, installer, packagePath);
  if (!summary) return false;

  uint32_t capacity = kSummaryBufferCapacity;
  std::vector<wchar_t> buffer(capacity, L'\0');
  uint32_t length = capacity;
  uint16_t type = kVtEmpty;
  uint32_t result =
      installer.SummaryInfoGetProperty(summary->get(), propertyId, type, buffer.data(), length);
  if (result == kErrorMoreData) {
    capacity = length + 1;
    buffer.assign(capacity, L'\0');
    length = capacity;
    type = kVtEmpty;
    result =
        installer.SummaryInfoGetProperty(summary->get(), propertyId, type, buffer.data(), length);
  }
  if (result != 0) {
    system.SetLastErrorCode(result);
    return false;
  }
  // An absent property, or one of another type, leaves the buffer as it was: it holds no text.
  if (type != kVtLpstr) {
    value.clear();
    return true;
  }
  const size_t end = std::min<size_t>(length, capacity - 1);
  value.assign(buffer.data(), std::find(buffer.data(), buffer.data() + end, L'\0'));
  return true;
}

}  // namespace

bool ReadTargetProductCodes(System& system, Installer& installer, const std::wstring& packagePath,
                            std::wstring& codes) {
  std::wstring value;
  if (!ReadTextProperty(system, installer, packagePath, kPidTemplate, value)) return false;
  codes = std::move(value);
  return true;
}

bool ReadUpgradeAndTargetVersions(System& system, Installer& installer,
                                  const std::wstring& packagePath, std::wstring& upgradeVersion,
                                  std::wstring& targetVersions) {
  std::wstring value;
  if (!ReadTextProperty(system, installer, packagePath, kPidKeywords, value)) return false;
  const size_t separator = value.find(L';');
  if (separator == std::wstring::npos || separator == 0) {
    system.SetLastErrorCode(kErrorInvalidVersionProperty);
    return false;
  }
  upgradeVersion = value.substr(0, separator);
  targetVersions = value.substr(separator + 1);
  return true;
}

}  // namespace updater
