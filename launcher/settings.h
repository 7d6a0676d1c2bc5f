// The process-wide settings taken from the command line before any mode runs.
#pragma once

#include <string>

#include "platform/system.h"

namespace updater {

inline constexpr uint32_t kDefaultWaitSeconds = 600;
inline constexpr uint32_t kLongestWaitSeconds = 86400;

struct Settings {
  bool quiet = false;          // "/q": no message box of the catalogue is shown
  bool apply = true;           // default mode: apply every payload
  bool extract = false;        // "/e": write the payloads to files
  bool info = false;           // "/i": show the information report
  bool exitCode = false;       // "/exitcode": the process exit code tells the outcome
  std::wstring extractPath{};  // "/e": the path the payloads are written to
  std::wstring logPath{};      // "/log": where the run log goes; empty for its default place
  bool noRestart = false;      // "/norestart": REBOOT=ReallySuppress, a needed restart is 3010
  bool plan = false;           // "/plan": decide as a run would, change nothing, exit code always
  bool usage = false;          // "/?" or "/help": the usage box, nothing else
  bool refused = false;        // a switch's value is malformed: message 309, nothing else runs
  uint32_t waitSeconds = kDefaultWaitSeconds;  // "/wait": the bound of the installer wait
};

// Scans the process command line for "/q", "/e <path>", "/i", "/pi", "/log <path>",
// "/exitcode", "/norestart", "/plan", "/wait <seconds>", "/?" and "/help", compared whole and
// without regard to case; anything else is ignored without a message. "/e", "/log" and "/wait"
// consume the argument after it whatever it looks like; "/e" and "/log" keep their earlier path
// when they are the last argument; "/i" and "/pi" end the scan. "/wait" takes a whole number of
// seconds from 0 to 86400 in decimal digits; anything else there, or nothing after it, refuses
// the command line. Of the modes, a refused command line wins, then "/?" or "/help", then
// "/plan" (over "/e" and over "/i" when the scan reaches "/plan" before "/i"), then "/e" and
// "/i". The info flag keeps the value it had. When memory for a path runs out the scan stops there
// and the settings made so far stand.
void ParseCommandLine(System& system, Settings& settings);

}  // namespace updater
