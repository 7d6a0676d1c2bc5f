// The command line of a child program from the arguments after a driver's own: each argument
// that holds a blank, or is empty, in double quotes (the arguments here hold no double quote).
#pragma once

#include <string>

inline std::wstring ChildCommand(int argc, wchar_t** argv, int first) {
  std::wstring line;
  for (int i = first; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (!line.empty()) line += L' ';
    const bool quote = argument.empty() || argument.find_first_of(L" \t") != std::wstring::npos;
    line += quote ? L"\"" + argument + L"\"" : argument;
  }
  return line;
}
