// Reads back, on the real platform, what the updater's protections are made of:
//   access_driver FOLDER
// prints one JSON object: whether the token is elevated (TokenElevation and TokenElevationType),
// the Windows folder, and the access lists as the platform keeps them (GetNamedSecurityInfoW) of
// FOLDER\private, created the way the run's private folder is, and of FOLDER\plain, created with
// default security; each also as the updater reads it (FolderSecurity, owner and access list).
#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>

#include "payload/private_folder.h"
#include "platform/link_free_path.h"
#include "platform/win32_system.h"
#include "tools/common/json_text.h"

namespace {

std::wstring ReadBack(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const SECURITY_INFORMATION what =
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, what, nullptr, nullptr, nullptr, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
    return L"";
  }
  LPWSTR text = nullptr;
  std::wstring result;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, what, &text,
                                                           nullptr)) {
    result = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  updater::Win32System system(GetModuleHandleW(nullptr));
  HANDLE token = nullptr;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD length = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &length);
    CloseHandle(token);
  }
  const bool elevated = system.IsElevated();
  const std::wstring folder = argv[1];
  const std::wstring privateFolder = folder + L"\\private";
  const std::wstring plainFolder = folder + L"\\plain";
  const std::wstring sid = system.CurrentUserSid().value_or(L"");
  const std::wstring asked = updater::PrivateFolderAccess(elevated, sid);
  const uint32_t created = system.CreateFolderWithAccess(privateFolder, asked).error();
  const bool plain = CreateDirectoryW(plainFolder.c_str(), nullptr) != FALSE;
  const updater::Outcome<std::wstring> folderSecurity =
      updater::FolderSecurity(system, privateFolder);
  const std::wstring security = folderSecurity ? *folderSecurity : L"";
  const updater::Outcome<std::wstring> plainRead = updater::FolderSecurity(system, plainFolder);
  const std::wstring plainSecurity = plainRead ? *plainRead : L"";
  std::printf(
      "{\"elevated\": %s, \"elevation_type\": %d, \"windows\": %s, \"user\": %s, "
      "\"asked\": %s, \"created\": %u, \"private\": %s, \"plain_created\": %s, \"plain\": %s, "
      "\"private_security\": %s, \"plain_security\": %s}\n",
      elevated ? "true" : "false", static_cast<int>(type),
      JsonText(system.WindowsFolder().value_or(L"")).c_str(), JsonText(sid).c_str(),
      JsonText(asked).c_str(), created, JsonText(ReadBack(privateFolder)).c_str(),
      plain ? "true" : "false", JsonText(ReadBack(plainFolder)).c_str(), JsonText(security).c_str(),
      JsonText(plainSecurity).c_str());
  return 0;
}
