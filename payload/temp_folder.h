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

// Whether folder lies in the profile of the user the process runs as, as its token gives it.
bool LiesInUsersProfile(System& system, const std::wstring& folder);

// Where "/e" without a path writes (userTemp, as ChooseUserTempFolder gave it): not elevated, that
// folder. Elevated, only under the rule the logs keep: it must lie in the user's profile
// (LiesInUsersProfile), which the user could write to without elevation anyway, else
// kErrorAccessDenied, and be reached without a link or junction, else that check's error. TMP
// pointed at C:\Windows\System32 thus writes nothing there.
FolderChoice ChooseExtractFolder(System& system, bool elevated, const FolderChoice& userTemp);

// Where the logs of the run go (the run log's default place and the installer logs), from the
// user's temporary folder (userTemp, as ChooseUserTempFolder gave it) and the elevated run's
// private root (root, as ChoosePrivateRoot gave it), each worked out once per run. Not elevated:
// userTemp. Elevated: that folder only when it lies in the user's profile
// (LiesInUsersProfile); otherwise (TMP pointed at C:\Windows\System32, say) kLogFolderName
// under root (the Windows folder's Temp; its error when it has none), created with the
// private folder's elevated access list. One standing there already is taken only when its
// owner and access list, read on its handle, are exactly those of a fresh folder made beside it
// with that access list (kLogFolderName, "-" and 32 random hexadecimal digits); otherwise (a folder
// a user made first, one that lets anybody else in, a link) the fresh folder is used instead and
// kept. An error when there is none.
FolderChoice ChooseLogFolder(System& system, bool elevated, const FolderChoice& userTemp,
                             const FolderChoice& root);

}  // namespace updater
