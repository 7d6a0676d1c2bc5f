// The process entry, free of Win32 types so that it runs against fakes as well.
#pragma once

#include "platform/installer.h"
#include "platform/system.h"

namespace updater {

// Scans the command line and runs exactly one mode: apply every payload (no switch), extract the
// payloads ("/e", then the report too when "/i" follows), show the information report ("/i"),
// nothing ("/pi"), decide without changing anything ("/plan"), show the usage ("/?", "/help"), or
// refuse a malformed command line (309). On a window station that is not visible no box is shown,
// as with "/q". Gives the process exit code: the outcome's with "/exitcode" or "/plan", else 0.
int RunUpdater(System& system, Installer& installer);

}  // namespace updater
