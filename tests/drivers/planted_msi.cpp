// A stand-in msi.dll planted beside an executable: when any process loads it, it leaves a marker
// file named by the environment variable PLANTED_MSI_MARKER.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t marker[MAX_PATH];
    if (GetEnvironmentVariableW(L"PLANTED_MSI_MARKER", marker, MAX_PATH) > 0) {
      HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
  }
  return TRUE;
}
