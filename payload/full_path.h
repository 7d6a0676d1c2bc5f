// Resolving a payload file's name to its full path.
#pragma once

#include <string>

#include "platform/system.h"

namespace updater {

// The full form of path (GetFullPathNameW), which must fit 260 characters with its terminator.
// False, fullPath untouched, when it cannot be resolved (the platform's error stays) or does not
// fit (last error 206).
bool GetFullPath(System& system, const std::wstring& path, std::wstring& fullPath);

}  // namespace updater
