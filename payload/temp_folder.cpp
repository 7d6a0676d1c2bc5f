#include "payload/temp_folder.h"

#include <vector>

#include "payload/private_folder.h"
#include "payload/temp_name.h"
#include "platform/full_path.h"

namespace updater {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t Upper(wchar_t c) {
  return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

}  // namespace

FolderChoice ChooseUserTempFolder(System& system) {
  // TMP first, as GetTempPathW takes it; a relative TMP is what GetTempPathW would make a folder
  // of the current folder from, so its answer is no better.
  const std::optional<std::wstring> tmp = system.EnvironmentVariable(L"TMP");
  if (tmp && !tmp->empty()) {
    if (!IsFullPath(*tmp)) return {{}, kErrorBadPathname};
    if (system.QueryPath(*tmp) == PathState::kDirectory) return {*tmp, 0};
  }

  std::vector<wchar_t> buffer(kTempFolderCapacity, L'\0');
  const Outcome<uint32_t> length = system.TempPath(kTempFolderCapacity, buffer.data());
  if (!length || *length == 0 || *length >= kTempFolderCapacity) return {{}, kErrorPathNotFound};
  std::wstring folder(buffer.data(), *length);
  if (!IsFullPath(folder)) return {{}, kErrorBadPathname};
  while (folder.size() > 3 && IsSeparator(folder.back())) folder.pop_back();

  const Outcome<PathState> state = system.ProbePath(folder);
  if (!state) return {{}, state.error()};
  if (*state == PathState::kDirectory) return {folder, 0};
  return {{}, kErrorPathNotFound};
}

bool LiesWithin(const std::wstring& folder, const std::wstring& profile) {
  std::wstring base = profile;
  while (base.size() > 3 && IsSeparator(base.back())) base.pop_back();
  if (base.empty() || folder.size() < base.size()) return false;
  for (size_t i = 0; i < base.size(); ++i) {
    const bool both = IsSeparator(folder[i]) && IsSeparator(base[i]);
    if (!both && Upper(folder[i]) != Upper(base[i])) return false;
  }
  if (folder.size() > base.size() && !IsSeparator(folder[base.size()]) &&
      !IsSeparator(base.back())) {
    return false;
  }
  // Every part after the profile names a folder of its own.
  size_t start = base.size();
  while (start < folder.size()) {
    while (start < folder.size() && IsSeparator(folder[start])) ++start;
    size_t end = start;
    bool onlyDots = true;
    while (end < folder.size() && !IsSeparator(folder[end])) {
      if (folder[end] != L'.' && folder[end] != L' ') onlyDots = false;
      ++end;
    }
    if (end > start && onlyDots) return false;
    start = end;
  }
  return true;
}

bool LiesInUsersProfile(System& system, const std::wstring& folder) {
  const std::optional<std::wstring> profile = system.UserProfileFolder();
  return profile && IsFullPath(*profile) && LiesWithin(folder, *profile);
}

FolderChoice ChooseExtractFolder(System& system, bool elevated, const FolderChoice& userTemp) {
  if (!elevated || userTemp.error != 0) return userTemp;
  if (!LiesInUsersProfile(system, userTemp.folder)) return {{}, kErrorAccessDenied};
  if (const Status reached = system.CheckReachedWithoutLinks(userTemp.folder); !reached) {
    return {{}, reached.error()};
  }
  return userTemp;
}

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
  const Outcome<std::wstring> ours = system.FolderSecurity(fresh);
  const Outcome<std::wstring> standing = system.FolderSecurity(folder);
  if (ours && standing && *standing == *ours) {
    system.RemoveEmptyFolder(fresh);
    return {folder, 0};
  }
  return {fresh, 0};
}

}  // namespace updater
