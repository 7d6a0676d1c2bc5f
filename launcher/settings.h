// The process-wide settings taken from the command line before any mode runs.
#pragma once

#include <string>

#include "platform/system.h"

namespace updater {

struct Settings {
  bool quiet = false;          // "/q": no message box of the catalogue is shown
  bool apply = true;           // default mode: apply every payload
  bool extract = false;        // "/e": write the payloads to files
  bool info = false;           // "/i": show the information report
  bool exitCode = false;       // "/exitcode": the process exit code tells the outcome
  std::wstring extractPath{};  // "/e": the path the payloads are written to
  std::wstring logPath{};      // "/log": where the run log goes; empty for its default place
};

// Scans the process command line for "/q", "/e <path>", "/i", "/pi", "/log <path>" and
// "/exitcode", compared whole and without regard to case; anything else is ignored without a
// message. "/e" and "/log" consume the argument after it whatever it looks like, and keep their
// earlier path when they are the last argument; "/i" and "/pi" end the scan. The info flag keeps
// the value it had. When memory for a path runs out the scan stops there and the settings made so
// far stand. Always gives true.
bool ParseCommandLine(System& system, Settings& settings);

}  // namespace updater
