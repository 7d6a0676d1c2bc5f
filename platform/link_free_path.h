// Paths the updater relies on being what they name: reached without any link or junction, on the
// way or at the end, so that what it finds or makes there is what it asked for.
#pragma once

#include <string>

#include "platform/outcome.h"
#include "platform/system.h"

namespace updater {

// Whether what a handle opened at a name (never following a link there) is the object of that
// very name: no link or junction at the name, opened as itself, and none on the way, which would
// give the object another path than the one asked for.
bool OpenedAsNamed(const OpenedFileFacts& facts);

// Success when the full path names an existing file or folder that is reached without any link
// or junction (OpenedAsNamed); kErrorCantResolveFilename for a link; else the opening's error.
Status CheckReachedWithoutLinks(System& system, const std::wstring& path);

// The owner and the access list of a folder in the security descriptor language ("O:...D:..."),
// read on a handle to the folder itself, only once that handle is found reached without any link
// or junction, which otherwise fails as CheckReachedWithoutLinks does.
Outcome<std::wstring> FolderSecurity(System& system, const std::wstring& path);

}  // namespace updater
