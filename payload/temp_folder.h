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

// The user's temporary folder: TMP when it names an existing folder, else GetTempPathW's
// folder (this one without its trailing backslash unless it is a drive root). It must be an
// existing folder given by a full path: a relative TMP (".") would put the run's files into the
// folder it was started from, so it is refused with kErrorBadPathname; a folder that cannot be had
// (GetTempPathW fails or gives more than 1024 characters, the folder is missing or is a file) gives
// kErrorPathNotFound, and an existence test that fails for another reason gives that reason. Never
// the current folder.
FolderChoice ChooseUserTempFolder(System& system);

// The protected folder of the logs of elevated runs, under the Windows folder's Temp.
inline constexpr wchar_t kLogFolderName[] = L"QuorvexUpdate-Logs";

// Whether folder is profile or lies below it, compared without regard to case; a folder with a
// "." or ".." part (or one of dots and blanks only, which Windows takes the same way) never does.
bool LiesWithin(const std::wstring& folder, const std::wstring& profile);

// Where the logs of the run go (the run log's default place and the installer logs). Not
// elevated: the user's temporary folder (ChooseUserTempFolder). Elevated: that folder only when
// it lies in the user's profile as the token gives it, which an unelevated user could write to
// anyway; otherwise (TMP pointed at C:\Windows\System32, say) kLogFolderName under the Windows
// folder's Temp, created with the private folder's elevated access list or, when it already
// stands, taken only when its owner, read on its handle, is the one this process gives what it
// creates (Administrators), as read back from a fresh folder with a random name made and removed
// beside it: a folder a user made first is not used. An error when there is none.
FolderChoice ChooseLogFolder(System& system, bool elevated);

}  // namespace updater
