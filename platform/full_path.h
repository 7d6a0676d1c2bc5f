// Resolving a file's name to its full path.
#pragma once

#include <string>

#include "platform/outcome.h"
#include "platform/system.h"

namespace updater {

// The full form of path (GetFullPathNameW), which must fit 260 characters with its terminator.
// Fails with the platform's error when it cannot be resolved, with 206 when it does not fit.
Outcome<std::wstring> GetFullPath(System& system, const std::wstring& path);

}  // namespace updater
