// Runs the patch summary reads and the installed-product queries on the real msi.dll and prints
// their results as one JSON object.
//   inspection_driver summary <package path>
//   inspection_driver product <product code>
//   inspection_driver os -          (the raw values the operating-system description is made of:
//                                    GetVersionExW's through the binding, RtlGetVersion's asked
//                                    directly under "rtl")
//   inspection_driver hold <source> <target> <product code>
//       writes source's bytes to target held read-only as the updater holds its payload copy,
//       tries to change, delete and rename it, then reads and installs it as a patch
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "inspection/summary.h"
#include "inspection/target_product.h"
#include "platform/win32_installer.h"
#include "platform/win32_system.h"
#include "tools/common/json_text.h"

namespace {

int Hold(const std::wstring& source, const std::wstring& target, const std::wstring& code) {
  updater::Win32System system(GetModuleHandleW(nullptr));
  updater::Win32Installer installer(system);
  HANDLE in = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                          nullptr);
  std::vector<std::byte> bytes(GetFileSize(in, nullptr));
  DWORD read = 0;
  ReadFile(in, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(in);

  updater::Outcome<std::unique_ptr<updater::WritableFile>> file =
      system.CreateFileForWriting(target, true);
  const bool written = file && (*file)->Write(bytes.data(), bytes.size()).ok();
  const bool held = written && (*file)->KeepReadOnly().ok();

  HANDLE writer = CreateFileW(target.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  const DWORD writeError = writer == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  const DWORD deleteError = DeleteFileW(target.c_str()) ? 0 : GetLastError();
  const std::wstring moved = target + L".moved";
  const DWORD renameError = MoveFileW(target.c_str(), moved.c_str()) ? 0 : GetLastError();

  const updater::PatchSummary summary = updater::ReadPatchSummary(installer, target);
  const bool summaryRead = summary.codes.ok();
  const std::wstring codes = summaryRead ? *summary.codes : L"";
  installer.SetInternalUI(2);  // INSTALLUILEVEL_NONE
  const uint32_t configured =
      installer.ConfigureProductEx(code, 0, 5, L"PATCH=\"" + target + L"\"");
  if (file) file->reset();
  const DWORD deleteAfter = DeleteFileW(target.c_str()) ? 0 : GetLastError();
  std::printf(
      "{\"held\": %s, \"writeError\": %lu, \"deleteError\": %lu, \"renameError\": %lu, "
      "\"summaryRead\": %s, \"codes\": %s, \"configured\": %lu, \"deleteAfter\": %lu}\n",
      held ? "true" : "false", writeError, deleteError, renameError, summaryRead ? "true" : "false",
      JsonText(codes).c_str(), static_cast<unsigned long>(configured), deleteAfter);
  return 0;
}

// RtlGetVersion asked directly, at the full size and then the basic one: "null" when ntdll does
// not export it, else {"extended", "basic", and the values of the first size that answered}.
std::string RtlVersion() {
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  if (rtlGetVersion == nullptr) return "null";
  OSVERSIONINFOEXW full{}, small{};
  full.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
  small.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  const bool fullOk = rtlGetVersion(&full) == 0;
  const bool smallOk = rtlGetVersion(&small) == 0;
  const OSVERSIONINFOEXW& v = fullOk ? full : small;
  char text[512];
  std::snprintf(text, sizeof(text),
                "{\"extended\": %s, \"basic\": %s, \"major\": %lu, \"minor\": %lu, "
                "\"build\": %lu, \"platform\": %lu, \"productType\": %u, \"suiteMask\": %u}",
                fullOk ? "true" : "false", smallOk ? "true" : "false", v.dwMajorVersion,
                v.dwMinorVersion, v.dwBuildNumber, v.dwPlatformId,
                static_cast<unsigned>(fullOk ? v.wProductType : 0),
                static_cast<unsigned>(fullOk ? v.wSuiteMask : 0));
  return text;
}

// Whether another process could read a file while the updater writes it: with the name the user
// gave ("/e PATH", replaced) and with a fresh temporary name (created anew, shared for reading).
int Share(const std::wstring& replacedPath, const std::wstring& freshPath) {
  updater::Win32System system(GetModuleHandleW(nullptr));
  const auto readError = [&system](const std::wstring& path, bool exclusive) -> unsigned long {
    updater::Outcome<std::unique_ptr<updater::WritableFile>> file =
        system.CreateFileForWriting(path, exclusive);
    if (!file) return 0xFFFFFFFF;
    const std::byte data[] = {std::byte{'M'}, std::byte{'S'}, std::byte{'P'}};
    (*file)->Write(data, sizeof data);
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    const DWORD error = reader == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    return error;
  };
  const unsigned long replaced = readError(replacedPath, false);
  const unsigned long fresh = readError(freshPath, true);
  std::printf("{\"replacedReadError\": %lu, \"freshReadError\": %lu}\n", replaced, fresh);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 5 && std::wstring(argv[1]) == L"hold") return Hold(argv[2], argv[3], argv[4]);
  if (argc == 4 && std::wstring(argv[1]) == L"share") return Share(argv[2], argv[3]);
  if (argc != 3) {
    std::fputs("usage: inspection_driver summary PATH | product CODE\n", stderr);
    return 2;
  }
  updater::Win32System system(GetModuleHandleW(nullptr));
  updater::Win32Installer installer(system);
  const std::wstring command = argv[1];
  const std::wstring argument = argv[2];
  if (command == L"summary") {
    const updater::PatchSummary summary = updater::ReadPatchSummary(installer, argument);
    const bool codesRead = summary.codes.ok();
    const std::wstring codes = codesRead ? *summary.codes : L"<unchanged>";
    const uint32_t codesError = summary.codes.error();
    const updater::Outcome<updater::VersionTexts> versions =
        summary.versions ? updater::SplitVersionProperty(*summary.versions)
                         : summary.versions.failure();
    const bool versionsRead = versions.ok();
    const std::wstring upgrade = versionsRead ? versions->upgradeVersion : L"<unchanged>";
    const std::wstring targets = versionsRead ? versions->targetVersions : L"<unchanged>";
    const uint32_t versionsError = versions.error();
    std::printf(
        "{\"codesRead\": %s, \"codes\": %s, \"codesError\": %lu, \"versionsRead\": %s, "
        "\"upgradeVersion\": %s, \"targetVersions\": %s, \"versionsError\": %lu}\n",
        codesRead ? "true" : "false", JsonText(codes).c_str(),
        static_cast<unsigned long>(codesError), versionsRead ? "true" : "false",
        JsonText(upgrade).c_str(), JsonText(targets).c_str(),
        static_cast<unsigned long>(versionsError));
    return 0;
  }
  if (command == L"product") {
    const bool installed = updater::IsProductInstalled(installer, argument);
    std::wstring name, language;
    updater::QueryProductNameAndLanguage(installer, argument, name, language);
    const std::wstring version = updater::QueryInstalledVersion(installer, argument);
    std::printf("{\"installed\": %s, \"productName\": %s, \"language\": %s, \"version\": %s}\n",
                installed ? "true" : "false", JsonText(name).c_str(), JsonText(language).c_str(),
                JsonText(version).c_str());
    return 0;
  }
  if (command == L"os") {
    updater::OsVersionInfo extended, basic;
    const bool extendedOk = system.QueryOsVersion(284, extended);
    const bool basicOk = system.QueryOsVersion(276, basic);
    const updater::OsVersionInfo& v = extendedOk ? extended : basic;
    std::printf(
        "{\"extended\": %s, \"basic\": %s, \"major\": %lu, \"minor\": %lu, \"build\": %lu, "
        "\"platform\": %lu, \"productType\": %u, \"suiteMask\": %u, \"architecture\": %u, "
        "\"rtl\": %s}\n",
        extendedOk ? "true" : "false", basicOk ? "true" : "false",
        static_cast<unsigned long>(v.majorVersion), static_cast<unsigned long>(v.minorVersion),
        static_cast<unsigned long>(v.buildNumber), static_cast<unsigned long>(v.platformId),
        static_cast<unsigned>(v.productType), static_cast<unsigned>(v.suiteMask),
        static_cast<unsigned>(system.ProcessorArchitecture()), RtlVersion().c_str());
    return 0;
  }
  std::fputs("unknown command\n", stderr);
  return 2;
}
