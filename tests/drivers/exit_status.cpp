// Runs the command line that follows its own name, waits for the program to end and prints
// "exit <code>" with its full exit code. Wine's loader hands a Windows exit code to Linux cut to
// its low eight bits (1642 arrives as 106), so the end-to-end tests read the code through this.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The text after the program's own name, the way CommandLineToArgvW ends the first argument.
const wchar_t* SkipOwnName(const wchar_t* line) {
  if (*line == L'"') {
    ++line;
    while (*line != L'\0' && *line != L'"') ++line;
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

}  // namespace

int wmain() {
  std::wstring command = SkipOwnName(::GetCommandLineW());
  if (command.empty()) return 2;
  STARTUPINFOW startup;
  ::ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process;
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    std::printf("start failed %lu\n", ::GetLastError());
    return 3;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  std::printf("exit %lu\n", code);
  return 0;
}
