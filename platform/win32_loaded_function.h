// Functions of the system DLLs every process has loaded (kernel32, ntdll), looked up at run time.
#pragma once

#include <windows.h>

namespace updater {

// The function name exports from module, or nullptr where this Windows lacks it: a static import
// of a function that an older system lacks would keep the loader from starting the updater there.
// GetModuleHandleW loads nothing, so no DLL is searched for.
template <typename Function>
Function LoadedFunction(const wchar_t* module, const char* name) {
  HMODULE handle = ::GetModuleHandleW(module);
  return handle == nullptr
             ? nullptr
             : reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(handle, name)));
}

}  // namespace updater
