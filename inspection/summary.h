// Reading a patch package's summary information: the target product codes (property 7) and, by
// this updater's convention, the upgrade version and the target versions (property 5).
#pragma once

#include <string>
#include <vector>

#include "inspection/four_part_version.h"
#include "platform/installer.h"
#include "platform/outcome.h"
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

// Opens the summary information of the package at packagePath, a full path as the payload copy
// gives it (PayloadCopy::fullPath), which is not resolved again. Fails with 161 for a path that is
// not full, with 206 for one that does not fit 260 characters, or with the service's result when
// it cannot open the package.
Outcome<SummaryHandle> OpenSummaryInformation(Installer& installer,
                                              const std::wstring& packagePath);

// The two properties as stored, read through one handle: property 5 first, then property 7. A
// property that is absent or not a text reads as an empty text. A package that cannot be opened
// fails both with the opening's error.
struct PatchSummary {
  Outcome<std::wstring> versions;  // property 5
  Outcome<std::wstring> codes;     // property 7
};
PatchSummary ReadPatchSummary(Installer& installer, const std::wstring& packagePath);

// Property 5 split at its first ";".
struct VersionTexts {
  std::wstring upgradeVersion;
  std::wstring targetVersions;  // "," between the versions
};
// Fails with 4316 when the text has no ";" or starts with one.
Outcome<VersionTexts> SplitVersionProperty(const std::wstring& value);

// What a patch says about its targets, ready for the decisions.
struct PatchTargets {
  std::vector<std::wstring> productCodes;  // in their order, up to the first empty entry
  FourPartVersion upgradeVersion;
  std::vector<FourPartVersion> targetVersions;  // in their order
};

// The code list split at ";": "A;B" gives A and B; the list ends at the first empty entry, so
// "A;;B" gives A alone and an empty text or one that starts with ";" gives none.
std::vector<std::wstring> SplitProductCodes(const std::wstring& codes);

// Reads both properties once and types them. Fails with the error of the version property's read
// (4316 when it has no usable ";"), else with that of the code property's read.
Outcome<PatchTargets> ReadPatchTargets(Installer& installer, const std::wstring& packagePath);

}  // namespace updater
