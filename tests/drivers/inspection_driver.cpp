// Runs the patch summary reads and the installed-product queries on the real msi.dll and prints
// their results as one JSON object.
//   inspection_driver summary <package path>
//   inspection_driver product <product code>
//   inspection_driver os -          (the raw values the operating-system description is made of)
#include <windows.h>

#include <cstdio>

#include "inspection/summary.h"
#include "inspection/target_product.h"
#include "platform/win32_installer.h"
#include "platform/win32_system.h"
#include "tests/drivers/driver_output.h"

using updater::drivers::Json;

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputs("usage: inspection_driver summary PATH | product CODE\n", stderr);
    return 2;
  }
  updater::Win32System system(GetModuleHandleW(nullptr));
  updater::Win32Installer installer;
  const std::wstring command = argv[1];
  const std::wstring argument = argv[2];
  if (command == L"summary") {
    std::wstring codes = L"<unchanged>";
    system.SetLastErrorCode(0);
    const bool codesRead = updater::ReadTargetProductCodes(system, installer, argument, codes);
    const uint32_t codesError = system.LastError();
    std::wstring upgrade = L"<unchanged>", targets = L"<unchanged>";
    system.SetLastErrorCode(0);
    const bool versionsRead =
        updater::ReadUpgradeAndTargetVersions(system, installer, argument, upgrade, targets);
    const uint32_t versionsError = system.LastError();
    std::printf(
        "{\"codesRead\": %s, \"codes\": %s, \"codesError\": %lu, \"versionsRead\": %s, "
        "\"upgradeVersion\": %s, \"targetVersions\": %s, \"versionsError\": %lu}\n",
        codesRead ? "true" : "false", Json(codes).c_str(), static_cast<unsigned long>(codesError),
        versionsRead ? "true" : "false", Json(upgrade).c_str(), Json(targets).c_str(),
        static_cast<unsigned long>(versionsError));
    return 0;
  }
  if (command == L"product") {
    const bool installed = updater::IsProductInstalled(installer, argument);
    std::wstring name, language;
    updater::QueryProductNameAndLanguage(installer, argument, name, language);
    const std::wstring version = updater::QueryInstalledVersion(installer, argument);
    std::printf("{\"installed\": %s, \"productName\": %s, \"language\": %s, \"version\": %s}\n",
                installed ? "true" : "false", Json(name).c_str(), Json(language).c_str(),
                Json(version).c_str());
    return 0;
  }
  if (command == L"os") {
    updater::OsVersionInfo extended, basic;
    const bool extendedOk = system.QueryOsVersion(284, extended);
    const bool basicOk = system.QueryOsVersion(276, basic);
    const updater::OsVersionInfo& v = extendedOk ? extended : basic;
    std::printf(
        "{\"extended\": %s, \"basic\": %s, \"major\": %lu, \"minor\": %lu, \"platform\": %lu, "
        "\"productType\": %u, \"suiteMask\": %u, \"architecture\": %u}\n",
        extendedOk ? "true" : "false", basicOk ? "true" : "false",
        static_cast<unsigned long>(v.majorVersion), static_cast<unsigned long>(v.minorVersion),
        static_cast<unsigned long>(v.platformId), static_cast<unsigned>(v.productType),
        static_cast<unsigned>(v.suiteMask), static_cast<unsigned>(system.ProcessorArchitecture()));
    return 0;
  }
  std::fputs("unknown command\n", stderr);
  return 2;
}
