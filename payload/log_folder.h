// Where the logs of the run go: the installer logs and the run log's default place.
#pragma once

#include "payload/folder_choice.h"
#include "platform/system.h"

namespace updater {

// The protected folder of the logs of elevated runs, under the Windows folder's Temp.
inline constexpr wchar_t kLogFolderName[] = L"QuorvexUpdate-Logs";

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
