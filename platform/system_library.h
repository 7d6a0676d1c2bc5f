// Loading a DLL of the system folder, and from nowhere else.
#pragma once

#include <string>

#include "platform/system.h"

namespace updater {

// Loads the DLL name from the system folder only: LOAD_LIBRARY_SEARCH_SYSTEM32 where the system
// knows that flag; where it refuses it as an invalid parameter (Windows Vista and 7 without
// KB2533623), the DLL by its full path in the system folder. Any other failure stands: a missing
// system DLL is never looked for elsewhere. The system folder not known gives 87 back.
Outcome<void*> LoadSystemLibrary(System& system, const std::wstring& name);

}  // namespace updater
