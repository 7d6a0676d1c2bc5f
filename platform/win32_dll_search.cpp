#include "platform/win32_dll_search.h"

#include <windows.h>

namespace updater {

bool RestrictDllSearch() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  // kernel32 is always loaded: GetModuleHandleW loads nothing.
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  const auto setDefault =
      kernel32 == nullptr
          ? nullptr
          : reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  ::SetDllDirectoryW(L"");
  return false;
}

}  // namespace updater
