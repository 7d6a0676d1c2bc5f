// The work folder: the user's temporary folder, where the installer logs are written.
#pragma once

#include <string>

#include "platform/system.h"

namespace updater {

// Removes a final backslash unless it belongs to a drive root: C:\Temp\ becomes C:\Temp, C:\ stays
// C:\ and a lone backslash becomes empty.
void StripTrailingBackslash(std::wstring& path);

// The temporary folder without its trailing backslash, created when missing, for a caller whose
// buffer holds capacity characters with the terminator. Falls back to "c:" when the folder does
// not fit, is a drive root, or is neither a directory nor creatable. Never fails.
std::wstring GetWorkFolder(System& system, size_t capacity);

}  // namespace updater
