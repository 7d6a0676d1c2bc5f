#include "platform/win32_dll_search.h"

#include <windows.h>

#include "platform/win32_loaded_function.h"

namespace updater {

bool RestrictDllSearch() {
  const auto setDefault =
      LoadedFunction<BOOL(WINAPI*)(DWORD)>(L"kernel32.dll", "SetDefaultDllDirectories");
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  ::SetDllDirectoryW(L"");
  return false;
}

}  // namespace updater
