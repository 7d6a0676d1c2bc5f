#include "payload/extract_folder.h"

#include "payload/users_profile.h"
#include "platform/link_free_path.h"

namespace updater {

FolderChoice ChooseExtractFolder(System& system, bool elevated, const FolderChoice& userTemp) {
  if (!elevated || userTemp.error != 0) return userTemp;
  if (!LiesInUsersProfile(system, userTemp.folder)) return {{}, kErrorAccessDenied};
  if (const Status reached = CheckReachedWithoutLinks(system, userTemp.folder); !reached) {
    return {{}, reached.error()};
  }
  return userTemp;
}

}  // namespace updater
