// A stand-in for a system DLL planted beside an executable (built as uxtheme.dll and dwmapi.dll):
// when any process loads it, it leaves a file named after itself, "<name>.loaded", in the folder
// named by the environment variable PLANTED_DLL_MARKERS.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t marker[MAX_PATH];
  wchar_t module[MAX_PATH];
  const DWORD folderLength = GetEnvironmentVariableW(L"PLANTED_DLL_MARKERS", marker, MAX_PATH);
  const DWORD moduleLength = GetModuleFileNameW(instance, module, MAX_PATH);
  if (folderLength == 0 || folderLength >= MAX_PATH || moduleLength == 0 ||
      moduleLength >= MAX_PATH) {
    return TRUE;
  }
  const wchar_t* name = module;
  for (const wchar_t* c = module; *c != L'\0'; ++c) {
    if (*c == L'\\' || *c == L'/') name = c + 1;
  }
  if (lstrlenW(marker) + 1 + lstrlenW(name) + 8 >= MAX_PATH) return TRUE;
  lstrcatW(marker, L"\\");
  lstrcatW(marker, name);
  lstrcatW(marker, L".loaded");
  HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
