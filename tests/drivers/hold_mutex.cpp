// Holds the Windows Installer's mutex, as the installer service does while an installation's
// execution sequence runs, and starts a program meanwhile:
//   hold_mutex [abandon] SECONDS PROGRAM [ARGUMENT ...]
// Owns "Global\_MSIExecute" from before the program starts until SECONDS have passed, then
// releases it and waits for the program (at most 120 s more). Prints, in milliseconds since the
// mutex was taken, "released <ms>" and "ended <ms>" (or "still running", the program killed),
// then "exit <code>" with the program's whole exit code. With "abandon" a thread takes the mutex
// and ends without releasing it, so that the mutex stands abandoned for SECONDS while this process
// keeps it open; "released" then tells when that handle is closed.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "child_command.h"

namespace {

DWORD WINAPI TakeAndEnd(void* mutex) {
  // The handle is this process's; the wait makes this thread the owner, which then ends.
  return ::WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool abandon = argc > 1 && std::wcscmp(argv[1], L"abandon") == 0;
  if (abandon) {
    --argc;
    ++argv;
  }
  if (argc < 3) return 2;
  const DWORD hold = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10)) * 1000;
  HANDLE mutex = ::CreateMutexW(nullptr, !abandon, L"Global\\_MSIExecute");
  if (mutex == nullptr || ::GetLastError() == ERROR_ALREADY_EXISTS) {
    std::printf("mutex not owned %lu\n", ::GetLastError());
    return 3;
  }
  if (abandon) {
    HANDLE thread = ::CreateThread(nullptr, 0, TakeAndEnd, mutex, 0, nullptr);
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
  }
  const ULONGLONG taken = ::GetTickCount64();
  std::wstring command = ChildCommand(argc, argv, 2);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    std::printf("start failed %lu\n", ::GetLastError());
    return 4;
  }
  // The program may end while the mutex is held (one that does not wait for it).
  ULONGLONG ended = 0;
  if (::WaitForSingleObject(process.hProcess, hold) == WAIT_OBJECT_0) {
    ended = ::GetTickCount64() - taken;
  }
  if (!abandon) ::ReleaseMutex(mutex);
  std::printf("released %llu\n", ::GetTickCount64() - taken);
  if (ended == 0) {
    if (::WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
      ::TerminateProcess(process.hProcess, 1);
      std::printf("still running\n");
      return 5;
    }
    ended = ::GetTickCount64() - taken;
  }
  std::printf("ended %llu\n", ended);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  std::printf("exit %lu\n", code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(mutex);
  return 0;
}
