// One installed target product of a patch, and the queries about installed products that
// describe it.
#pragma once

#include <string>
#include <vector>

#include "inspection/four_part_version.h"
#include "platform/installer.h"

namespace updater {

inline constexpr uint32_t kProductQueryCapacity = 1024;

// What the installer service says about one installed target. A plain value: copies are
// independent. A value the service does not deliver is an empty text.
struct TargetProductRecord {
  std::wstring productCode;
  std::wstring productName;
  std::wstring language;          // decimal locale identifier, as the service gives it
  std::wstring installedVersion;  // "VersionString", as the service gives it

  FourPartVersion InstalledVersion() const { return FourPartVersion::FromText(installedVersion); }
};

// True for a product that is installed or advertised for this user (states 5 and 1).
bool IsProductInstalled(Installer& installer, const std::wstring& productCode);

// The product's "ProductName" and "Language". A value the service does not deliver is stored as
// an empty text; a failed name query does not stop the language query.
void QueryProductNameAndLanguage(Installer& installer, const std::wstring& productCode,
                                 std::wstring& productName, std::wstring& language);

// The product's "VersionString", or an empty text when the service does not deliver it.
std::wstring QueryInstalledVersion(Installer& installer, const std::wstring& productCode);

// One target code as detected here: whether it is installed and, when it is, the product as the
// installer service describes it (the code is always set).
struct DetectedTarget {
  bool installed = false;
  TargetProductRecord product;
};

// One entry per code, in the order of the codes; only an installed one is asked for its version,
// name and language.
std::vector<DetectedTarget> DetectTargets(Installer& installer,
                                          const std::vector<std::wstring>& codes);

}  // namespace updater
