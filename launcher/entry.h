// The process entry, free of Win32 types so that it runs against fakes as well.
#pragma once

#include "platform/installer.h"
#include "platform/system.h"

namespace updater {

// Scans the command line and runs exactly one mode: apply every payload (no switch), extract the
// payloads ("/e", then the report too when "/i" follows), show the information report ("/i"), or
// nothing ("/pi"). Gives the process exit code, which is always 0.
int RunUpdater(System& system, Installer& installer);

}  // namespace updater
