#include "payload/log_folder.h"

#include "payload/private_folder.h"
#include "payload/users_profile.h"
#include "platform/full_path.h"
#include "platform/link_free_path.h"

namespace updater {

FolderChoice ChooseLogFolder(System& system, bool elevated, const FolderChoice& userTemp,
                             const FolderChoice& root) {
  if (!elevated) return userTemp;
  if (userTemp.error == 0 && LiesInUsersProfile(system, userTemp.folder)) return userTemp;
  if (root.error != 0) return root;
  const std::wstring folder = JoinPath(root.folder, kLogFolderName);
  const std::wstring access = PrivateFolderAccess(true, L"");
  const Status made = system.CreateFolderWithAccess(folder, access);
  if (made) return {folder, 0};
  if (made.error() != kErrorAlreadyExists && made.error() != kErrorFileExists) {
    return {{}, made.error()};
  }
  // Standing already: a fresh protected folder of a random name is made beside it, and the one
  // standing is taken only when its owner and access list, read on its handle, are exactly the
  // fresh one's (the owner this process gives what it creates, Administrators on Windows, and
  // nobody else allowed in). A folder a user made first, or one whose access list lets anybody
  // else in, is not used: the fresh folder is, and stays for the logs.
  std::byte random[kPrivateNameRandomBytes];
  if (const Status drawn = system.RandomBytes(random); !drawn) return {{}, drawn.error()};
  const std::wstring fresh =
      JoinPath(root.folder, RandomFolderName(std::wstring(kLogFolderName) + L"-", random));
  if (const Status created = system.CreateFolderWithAccess(fresh, access); !created) {
    return {{}, created.error()};
  }
  const Outcome<std::wstring> ours = FolderSecurity(system, fresh);
  const Outcome<std::wstring> standing = FolderSecurity(system, folder);
  if (ours && standing && *standing == *ours) {
    system.RemoveEmptyFolder(fresh);
    return {folder, 0};
  }
  return {fresh, 0};
}

}  // namespace updater
