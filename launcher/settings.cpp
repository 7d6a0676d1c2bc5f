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

// The switches that choose the mode, as the scan met them.
struct ModeSwitches {
  bool chosen = false;   // "/e", "/i" or "/pi": the default mode does not run
  bool extract = false;  // "/e"
  bool report = false;   // "/i"
  bool plan = false;     // "/plan"
  bool usage = false;    // "/?" or "/help"
  bool refused = false;  // a malformed "/wait"
};

// The order of the modes, once: a refused line, the usage, a plan, a run unless "/e", "/i" or
// "/pi" came, then "/e" and "/i".
Mode ChooseMode(const ModeSwitches& switches) {
  if (switches.refused) return Mode::kRefused;
  if (switches.usage) return Mode::kUsage;
  if (switches.plan) return Mode::kPlan;
  if (!switches.chosen) return Mode::kApply;
  if (switches.extract) return switches.report ? Mode::kExtractAndReport : Mode::kExtract;
  return switches.report ? Mode::kReport : Mode::kNothing;
}

// Reads one argument at i into settings and switches; i moves past a consumed value. False when
// the scan ends here ("/i", "/pi", or no memory for a path).
bool ScanArgument(const std::vector<std::wstring>& arguments, size_t& i, Settings& settings,
                  ModeSwitches& switches) {
  const std::wstring& argument = arguments[i];
  const bool valueFollows = i + 1 < arguments.size();
  if (IsSwitch(argument, L"/q")) {
    settings.quiet = true;
  } else if (IsSwitch(argument, L"/e")) {
    switches.chosen = switches.extract = true;
    if (valueFollows && !TakeArgument(arguments[++i], settings.extractPath)) return false;
  } else if (IsSwitch(argument, L"/log")) {
    if (valueFollows && !TakeArgument(arguments[++i], settings.logPath)) return false;
  } else if (IsSwitch(argument, L"/exitcode")) {
    settings.exitCode = true;
  } else if (IsSwitch(argument, L"/norestart")) {
    settings.noRestart = true;
  } else if (IsSwitch(argument, L"/plan")) {
    switches.plan = true;
  } else if (IsSwitch(argument, L"/?") || IsSwitch(argument, L"/help")) {
    switches.usage = true;
  } else if (IsSwitch(argument, L"/wait")) {
    if (!valueFollows || !ReadSeconds(arguments[i + 1], settings.waitSeconds)) {
      switches.refused = true;
    }
    ++i;
  } else if (IsSwitch(argument, L"/i") || IsSwitch(argument, L"/pi")) {
    switches.chosen = true;
    switches.report = IsSwitch(argument, L"/i");
    return false;
  }
  return true;
}

}  // namespace

Settings ParseCommandLine(System& system) {
  const std::optional<std::vector<std::wstring>> arguments = system.CommandLineArguments();
  Settings settings;
  ModeSwitches switches;
  const size_t count = arguments ? arguments->size() : 0;
  for (size_t i = 1; i < count; ++i) {
    if (!ScanArgument(*arguments, i, settings, switches)) break;
  }
  settings.mode = ChooseMode(switches);
  settings.plan = switches.plan;
  return settings;
}

}  // namespace updater
