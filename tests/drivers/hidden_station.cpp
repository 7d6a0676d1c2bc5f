// Starts a program on a window station that nobody sees, as a deployment agent running as SYSTEM
// or a service does:
//   hidden_station SECONDS PROGRAM [ARGUMENT ...]
// Creates a window station without WSF_VISIBLE (CreateWindowStationW, flags 0) with a desktop,
// prints "station flags <UOI_FLAGS>", starts the program on that desktop (STARTUPINFO.lpDesktop)
// and waits SECONDS for it. Prints "exit <code>" with its whole exit code, or "timeout" when it
// is still running then (a box nobody can close), after killing it.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "child_command.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const DWORD wait = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10)) * 1000;
  wchar_t name[64];
  std::swprintf(name, 64, L"QuorvexHidden%lu", ::GetCurrentProcessId());
  HWINSTA station = ::CreateWindowStationW(name, 0, WINSTA_ALL_ACCESS, nullptr);
  if (station == nullptr) {
    std::printf("station not created %lu\n", ::GetLastError());
    return 3;
  }
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed);
  std::printf("station flags %lu\n", flags.dwFlags);
  // A desktop is made on the process's own window station, so the process visits the new one.
  HWINSTA own = ::GetProcessWindowStation();
  ::SetProcessWindowStation(station);
  HDESK desktop = ::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  ::SetProcessWindowStation(own);
  if (desktop == nullptr) {
    std::printf("desktop not created %lu\n", ::GetLastError());
    return 4;
  }
  std::wstring desktopName = std::wstring(name) + L"\\Default";
  std::wstring command = ChildCommand(argc, argv, 2);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktopName.data();
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    std::printf("start failed %lu\n", ::GetLastError());
    return 5;
  }
  if (::WaitForSingleObject(process.hProcess, wait) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.hProcess, 1);
    ::WaitForSingleObject(process.hProcess, 10000);
    std::printf("timeout\n");
  } else {
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    std::printf("exit %lu\n", code);
  }
  std::fflush(stdout);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  ::CloseDesktop(desktop);
  ::CloseWindowStation(station);
  return 0;
}
