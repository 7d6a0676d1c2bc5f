// One installed target product of a patch, and the queries about installed products that
// describe it.
#pragma once

#include <string>
#include <vector>

#include "inspection/four_part_version.h"
#include "platform/installer.h"
#include "platform/outcome.h"

namespace updater {

inline constexpr uint32_t kProductQueryCapacity = 1024;

// What the installer service says about one installed target. A plain value: copies are
// independent. A value the service does not deliver is an empty text.
struct TargetProductRecord {
  std::wstring productCode;
  std::wstring productName;
  std::wstring language;          // decimal locale identifier, as the service gives it
  std::wstring installedVersion;  // "VersionString", as the service gives it
  // The registration it was read from: 0 when read without a context (MsiGetProductInfoW), else
  // the context and, for a per-user one, the user's SID.
  uint32_t context = 0;
  std::wstring userSid;

  FourPartVersion InstalledVersion() const { return FourPartVersion::FromText(installedVersion); }
};

// One registration of a product with the installer service.
struct ProductRegistration {
  std::wstring productCode;
  uint32_t context = 0;  // kInstallContextMachine, ...UserManaged or ...UserUnmanaged
  std::wstring userSid;  // empty for the machine context
};

// The most registrations read from one enumeration; a longer list is cut there.
inline constexpr uint32_t kMaxRegistrations = 100000;

// Every registration of every product, for every user (EnumProductsEx), or the enumeration's
// error when it fails before its end.
Outcome<std::vector<ProductRegistration>> ListRegistrations(Installer& installer);

// Whether two product codes are the same, letters compared without regard to case.
bool SameCode(const std::wstring& a, const std::wstring& b);

// The first unmanaged per-user registration of code among registrations (any user's), or none.
const ProductRegistration* FindUnmanagedRegistration(
    const std::vector<ProductRegistration>& registrations, const std::wstring& code);

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

// What an elevated run finds of the codes. Only an installation that needed administrators to
// exist counts: a machine-wide or a managed per-user one, read in its context. A code with an
// unmanaged per-user registration of any user (which every user can make, also beside a
// machine-wide one, and which the installer call would take) is not installed for the run; its
// registration is in refused. A failed enumeration finds nothing installed and gives its error.
struct ElevatedDetection {
  std::vector<DetectedTarget> targets;  // one per code, in the order of the codes
  std::vector<ProductRegistration> refused;
  uint32_t error = 0;
};
ElevatedDetection DetectElevatedTargets(Installer& installer,
                                        const std::vector<std::wstring>& codes);

}  // namespace updater
