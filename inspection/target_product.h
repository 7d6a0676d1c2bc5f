// One target product of a patch, and the queries about installed products that describe it.
#pragma once

#include <string>

#include "inspection/installer.h"

namespace updater {

inline constexpr uint32_t kProductQueryCapacity = 1024;

// A plain value: copies are independent.
struct TargetProductRecord {
  std::wstring productCode;
  std::wstring upgradeVersion;
  std::wstring productName;
  std::wstring language;  // decimal locale identifier
  std::wstring commandLine;
  std::wstring targetVersions;  // "," between the versions
  std::wstring installedVersion;
};

// True for a product that is installed or advertised for this user (states 5 and 1).
bool IsProductInstalled(Installer& installer, const std::wstring& productCode);

// The product's "ProductName" and "Language". A value the service does not deliver is stored as
// an empty text; a failed name query does not stop the language query. Always true.
bool QueryProductNameAndLanguage(Installer& installer, const std::wstring& productCode,
                                 std::wstring& productName, std::wstring& language);

// The product's "VersionString", or an empty text when the service does not deliver it.
std::wstring QueryInstalledVersion(Installer& installer, const std::wstring& productCode);

}  // namespace updater
