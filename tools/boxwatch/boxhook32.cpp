// boxhook32: installs boxhook.dll's hook for the 32-bit programs of the desktop, on behalf of the
// 64-bit boxwatch.exe. A global hook reaches only programs of the bitness of the DLL that holds it,
// so boxwatch starts this 32-bit program (built by the x86 preset, beside a 32-bit boxhook.dll)
// when it is given --hook32, and ends it when it stops.
//
//   boxhook32.exe READY-EVENT STOP-EVENT PARENT-PROCESS
//
// The three arguments are inherited handles, in decimal. Once the hook is installed the program
// sets READY-EVENT; it removes the hook and exits with 0 when STOP-EVENT is set or the parent
// process ends. Exit code 1: the DLL or its hook could not be installed (READY-EVENT stays unset);
// 2: bad arguments.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "boxhook.h"

namespace {

HANDLE HandleArg(const wchar_t* text) {
  wchar_t* end = nullptr;
  const unsigned long value = std::wcstoul(text, &end, 10);
  if (end == text || *end != L'\0' || value == 0) return nullptr;
  return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  HANDLE ready = HandleArg(argv[1]);
  HANDLE stop = HandleArg(argv[2]);
  HANDLE parent = HandleArg(argv[3]);
  if (!ready || !stop || !parent) return 2;

  HMODULE module = LoadLibraryW(BoxHookDllBesideSelf().c_str());
  auto proc = module ? reinterpret_cast<HOOKPROC>(
                           reinterpret_cast<void*>(GetProcAddress(module, kBoxWatchHookExport)))
                     : nullptr;
  HHOOK hook = proc ? SetWindowsHookExW(WH_CALLWNDPROCRET, proc, module, 0) : nullptr;
  if (!hook) {
    std::fprintf(stderr, "boxhook32: hook not installed (error %lu)\n", GetLastError());
    return 1;
  }
  SetEvent(ready);
  const HANDLE waits[] = {stop, parent};
  WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  UnhookWindowsHookEx(hook);
  return 0;
}
