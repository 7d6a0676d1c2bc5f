// The process-wide settings taken from the command line before any mode runs.
#pragma once

#include <string>

#include "platform/system.h"

namespace updater {

inline constexpr uint32_t kDefaultWaitSeconds = 600;
inline constexpr uint32_t kLongestWaitSeconds = 86400;

// The one mode a run makes, the first that applies in this order.
enum class Mode {
  kRefused,           // a switch's value is malformed: message 309, nothing else runs
  kUsage,             // "/?" or "/help": the usage box, nothing else
  kPlan,              // "/plan": decide as a run would, change nothing, exit code always
  kApply,             // no mode switch: apply every payload
  kExtract,           // "/e": write the payloads to files
  kExtractAndReport,  // "/e", then "/i" after it: both, in this order
  kReport,            // "/i": show the information report
  kNothing,           // "/pi" without an "/e" before it: nothing at all
};

struct Settings {
  Mode mode = Mode::kApply;
  bool quiet = false;     // "/q": no message box of the catalogue is shown
  bool exitCode = false;  // "/exitcode": the process exit code tells the outcome
  // "/plan" scanned, whichever mode runs (a refused line, the usage): no message box is shown
  // and the exit code is returned as with "/exitcode".
  bool plan = false;
  std::wstring extractPath{};  // "/e": the path the payloads are written to
  std::wstring logPath{};      // "/log": where the run log goes; empty for its default place
  bool noRestart = false;      // "/norestart": REBOOT=ReallySuppress, a needed restart is 3010
  uint32_t waitSeconds = kDefaultWaitSeconds;  // "/wait": the bound of the installer wait
};

// Scans the process command line for "/q", "/e <path>", "/i", "/pi", "/log <path>",
// "/exitcode", "/norestart", "/plan", "/wait <seconds>", "/?" and "/help", compared whole and
// without regard to case; anything else is ignored without a message. "/e", "/log" and "/wait"
// consume the argument after it whatever it looks like; "/e" and "/log" keep their earlier path
// when they are the last argument; "/i" and "/pi" end the scan. "/wait" takes a whole number of
// seconds from 0 to 86400 in decimal digits; anything else there, or nothing after it, refuses
// the command line. The mode is the first of Mode's order that the switches scanned ask for;
// "/pi" clears an "/i" (none can stand before it, as "/i" ends the scan) and keeps an "/e" before
// it. When memory for a path runs out the scan stops there and the settings made so far stand.
Settings ParseCommandLine(System& system);

}  // namespace updater
