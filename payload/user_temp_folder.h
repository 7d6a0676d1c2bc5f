// The user's temporary folder, as far as the updater will use it.
#pragma once

#include <cstdint>

#include "payload/folder_choice.h"
#include "platform/system.h"

namespace updater {

// The longest answer of GetTempPathW taken, terminator included.
inline constexpr uint32_t kTempFolderCapacity = 1024;

// The user's temporary folder: TMP when it names an existing folder, else GetTempPathW's
// folder (this one without its trailing backslash unless it is a drive root). It must be an
// existing folder given by a full path: a relative TMP (".") would put the run's files into the
// folder it was started from, so it is refused with kErrorBadPathname; a folder that cannot be had
// (GetTempPathW fails or gives more than 1024 characters, the folder is missing or is a file) gives
// kErrorPathNotFound, and an existence test that fails for another reason gives that reason. Never
// the current folder.
FolderChoice ChooseUserTempFolder(System& system);

}  // namespace updater
