// Where "/e" without a path writes.
#pragma once

#include "payload/folder_choice.h"
#include "platform/system.h"

namespace updater {

// Where "/e" without a path writes (userTemp, as ChooseUserTempFolder gave it): not elevated, that
// folder. Elevated, only under the rule the logs keep: it must lie in the user's profile
// (LiesInUsersProfile), which the user could write to without elevation anyway, else
// kErrorAccessDenied, and be reached without a link or junction, else that check's error. TMP
// pointed at C:\Windows\System32 thus writes nothing there.
FolderChoice ChooseExtractFolder(System& system, bool elevated, const FolderChoice& userTemp);

}  // namespace updater
