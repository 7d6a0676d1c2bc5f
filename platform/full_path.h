// Full paths: what counts as one, joining a name to a folder, resolving a name to its full path.
#pragma once

#include <string>

#include "platform/outcome.h"
#include "platform/system.h"

namespace updater {

// Whether path is a full path: a drive letter with its root ("C:\", "C:/"), or a UNC or device
// path ("\\server\share", "\\?\C:\", either separator). "C:name", "\name" and "." depend on the
// current folder, and three separators at the start name nothing: none of them is.
bool IsFullPath(const std::wstring& path);

// Joins a name to a folder with one backslash.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// The full form of path (GetFullPathNameW), which must fit 260 characters with its terminator.
// Fails with the platform's error when it cannot be resolved, with 206 when it does not fit.
Outcome<std::wstring> GetFullPath(System& system, const std::wstring& path);

}  // namespace updater
