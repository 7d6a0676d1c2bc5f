// Reading a patch package's summary information: the target product codes (property 7) and, by
// this updater's convention, the upgrade version and the target versions (property 5).
#pragma once

#include <optional>
#include <string>

#include "inspection/installer.h"
#include "platform/system.h"

namespace updater {

inline constexpr uint32_t kErrorInvalidVersionProperty = 4316;
inline constexpr uint32_t kSummaryBufferCapacity = 2048;

// An open summary information handle, closed exactly once when the owner goes, on every path.
class SummaryHandle {
 public:
  SummaryHandle(Installer& installer, MsiHandle handle) : installer_(&installer), handle_(handle) {}
  ~SummaryHandle();
  SummaryHandle(SummaryHandle&& other) noexcept;
  SummaryHandle& operator=(SummaryHandle&&) = delete;
  SummaryHandle(const SummaryHandle&) = delete;
  SummaryHandle& operator=(const SummaryHandle&) = delete;

  MsiHandle get() const { return handle_; }

 private:
  Installer* installer_;
  MsiHandle handle_;
};

// Opens the summary information of the package at packagePath, resolved to a full path first.
// Nothing when the full path does not fit 260 characters, cannot be resolved, or the installer
// service cannot open the package; the last error then holds the code of the failed step (the
// service's result, which it does not always leave there itself).
std::optional<SummaryHandle> OpenSummaryInformation(System& system, Installer& installer,
                                                    const std::wstring& packagePath);

// Property 7 as stored, unchanged. False, codes untouched, when it cannot be read, with the
// service's result as the last error. A property that is absent or not a text reads as an empty
// text.
bool ReadTargetProductCodes(System& system, Installer& installer, const std::wstring& packagePath,
                            std::wstring& codes);

// Property 5 split at its first ";". False, outputs untouched, when it cannot be read; also when it
// has no ";" or starts with one, and then the last error is 4316.
bool ReadUpgradeAndTargetVersions(System& system, Installer& installer,
                                  const std::wstring& packagePath, std::wstring& upgradeVersion,
                                  std::wstring& targetVersions);

}  // namespace updater
