#include "launcher/settings.h"

#include <new>

namespace updater {
namespace {

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c; }

// The switches are ASCII, so folding ASCII letters is all the case-blind comparison needs.
bool IsSwitch(const std::wstring& argument, const wchar_t* name) {
  size_t i = 0;
  for (; i < argument.size() && name[i] != L'\0'; ++i) {
    if (AsciiLower(argument[i]) != name[i]) return false;
  }
  return i == argument.size() && name[i] == L'\0';
}

// Copies a switch's argument; false when memory runs out, which ends the scan.
bool TakeArgument(const std::wstring& argument, std::wstring& value) {
  try {
    value = argument;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Reads a whole number of seconds, decimal digits only, at most kLongestWaitSeconds.
bool ReadSeconds(const std::wstring& text, uint32_t& seconds) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<uint32_t>(c - L'0');
  }
  if (value > kLongestWaitSeconds) return false;
  seconds = value;
  return true;
}

}  // namespace

void ParseCommandLine(System& system, Settings& settings) {
  const std::optional<std::vector<std::wstring>> arguments = system.CommandLineArguments();
  const size_t count = arguments ? arguments->size() : 0;

  settings.quiet = false;
  settings.extract = false;
  settings.extractPath.clear();
  settings.apply = true;
  settings.exitCode = false;
  settings.logPath.clear();
  settings.noRestart = false;
  settings.plan = false;
  settings.usage = false;
  settings.refused = false;
  settings.waitSeconds = kDefaultWaitSeconds;

  for (size_t i = 1; i < count; ++i) {
    const std::wstring& argument = (*arguments)[i];
    if (IsSwitch(argument, L"/q")) {
      settings.quiet = true;
    } else if (IsSwitch(argument, L"/e")) {
      settings.apply = false;
      settings.extract = true;
      if (i + 1 < count) {
        if (!TakeArgument((*arguments)[i + 1], settings.extractPath)) break;
        ++i;
      }
    } else if (IsSwitch(argument, L"/log")) {
      if (i + 1 < count) {
        if (!TakeArgument((*arguments)[i + 1], settings.logPath)) break;
        ++i;
      }
    } else if (IsSwitch(argument, L"/exitcode")) {
      settings.exitCode = true;
    } else if (IsSwitch(argument, L"/norestart")) {
      settings.noRestart = true;
    } else if (IsSwitch(argument, L"/plan")) {
      settings.plan = true;
    } else if (IsSwitch(argument, L"/?") || IsSwitch(argument, L"/help")) {
      settings.usage = true;
    } else if (IsSwitch(argument, L"/wait")) {
      if (i + 1 >= count || !ReadSeconds((*arguments)[i + 1], settings.waitSeconds)) {
        settings.refused = true;
      }
      ++i;
    } else if (IsSwitch(argument, L"/i")) {
      settings.apply = false;
      settings.info = true;
      break;
    } else if (IsSwitch(argument, L"/pi")) {
      settings.apply = false;
      settings.info = false;
      break;
    }
  }
  // One mode runs: a refused line and the usage apply nothing, and a dry run writes nothing.
  if (settings.refused || settings.usage || settings.plan) {
    settings.apply = false;
    settings.extract = false;
    settings.info = false;
  }
  if (settings.usage) settings.plan = false;
}

}  // namespace updater
