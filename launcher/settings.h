// The process-wide settings taken from the command line before any mode runs.
#pragma once

#include <string>

#include "platform/system.h"

namespace updater {

struct Settings {
  bool quiet = false;    // "/q": no message box of the catalogue is shown
  bool apply = true;     // default mode: apply every payload
  bool extract = false;  // "/e": write the payloads to files
  bool info = false;     // "/i": show the information report
  std::wstring extractPath;
};

// Scans the process command line for "/q", "/e <path>", "/i" and "/pi", compared whole and
// without regard to case; anything else is ignored without a message. "/e" consumes the argument
// after it whatever it looks like; "/i" and "/pi" end the scan. The info flag keeps the value it
// had. When memory for the extract path runs out the scan stops there and the settings made so
// far stand. Always gives true.
bool ParseCommandLine(System& system, Settings& settings);

}  // namespace updater
