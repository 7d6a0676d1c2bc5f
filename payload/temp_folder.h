// The user's temporary folder, as far as the updater will use it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/system.h"

namespace updater {

// A folder, or why there is none usable: error is 0 or a platform code.
struct FolderChoice {
  std::wstring folder;
  uint32_t error = 0;
};

// Whether path is a full path: a drive letter with its root ("C:\"), or a UNC or device path
// ("\\server\share", "\\?\C:\"). "C:name", "\name" and "." depend on the current folder.
bool IsFullPath(const std::wstring& path);

// Joins a name to a folder with one backslash.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// The user's temporary folder: TMP when it names an existing folder, else GetTempPathW's
// folder (this one without its trailing backslash unless it is a drive root). It must be an
// existing folder given by a full path: a relative TMP (".") would put the run's files into the
// folder it was started from, so it is refused with kErrorBadPathname; a folder that cannot be had
// (GetTempPathW fails or gives more than 1024 characters, the folder is missing or is a file) gives
// kErrorPathNotFound, and an existence test that fails for another reason gives that reason. Never
// the current folder.
FolderChoice ChooseUserTempFolder(System& system);

// The work folder, where the installer logs go: the user's temporary folder as
// ChooseUserTempFolder gives it, without trailing separators, so that a name is joined to it with
// one backslash (a drive root "D:\" gives "D:"). Empty when there is none: the products are then
// patched without a log, never with one in the current folder or at the root of a drive.
std::wstring GetWorkFolder(System& system);

}  // namespace updater
