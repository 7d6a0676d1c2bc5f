#include "payload/private_folder.h"

#include <vector>

namespace updater {
namespace {

constexpr int kMaxTreeDepth = 32;

bool StartsWithPrefix(const std::wstring& name) {
  const std::wstring prefix = kPrivateFolderPrefix;
  if (name.size() <= prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    wchar_t c = name[i];
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    wchar_t p = prefix[i];
    if (p >= L'a' && p <= L'z') p = static_cast<wchar_t>(p - L'a' + L'A');
    if (c != p) return false;
  }
  return true;
}

Status RemoveTreeAt(System& system, const std::wstring& folder, int depth) {
  Status first;
  auto note = [&first](const Status& status) {
    if (first && !status) first = status;
  };
  Outcome<std::vector<FolderEntry>> listed = system.ListFolder(folder);
  if (!listed) note(listed.failure());
  const std::vector<FolderEntry> entries = listed ? std::move(*listed) : std::vector<FolderEntry>{};
  for (const FolderEntry& entry : entries) {
    const std::wstring child = JoinPath(folder, entry.name);
    const bool directory = (entry.attributes & kFileAttributeDirectory) != 0;
    const bool link = (entry.attributes & kFileAttributeReparsePoint) != 0;
    if (directory && !link && depth < kMaxTreeDepth) {
      note(RemoveTreeAt(system, child, depth + 1));
    } else if (directory) {
      // A link to a folder goes as a folder on Windows; some file systems take it as a file.
      if (!system.RemoveEmptyFolder(child)) note(system.DeleteFileNamed(child));
    } else {
      note(system.DeleteFileNamed(child));
    }
  }
  note(system.RemoveEmptyFolder(folder));
  return first;
}

}  // namespace

std::wstring PrivateFolderAccess(bool elevated, const std::wstring& userSid) {
  std::wstring sddl = L"D:P(A;OICI;FA;;;SY)";
  sddl += elevated ? L"(A;OICI;FA;;;BA)" : L"(A;OICI;FA;;;" + userSid + L")";
  return sddl;
}

std::wstring PrivateFolderName(std::span<const std::byte> random) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring name = kPrivateFolderPrefix;
  for (std::byte b : random) {
    const unsigned value = std::to_integer<unsigned>(b);
    name += kDigits[value >> 4];
    name += kDigits[value & 0xF];
  }
  return name;
}

FolderChoice ChoosePrivateRoot(System& system, bool elevated, const FolderChoice& userTemp) {
  std::wstring root;
  if (elevated) {
    const std::optional<std::wstring> windows = system.WindowsFolder();
    if (!windows || !IsFullPath(*windows)) return {{}, kErrorPathNotFound};
    root = JoinPath(*windows, L"Temp");
    if (system.QueryPath(root) != PathState::kDirectory) return {{}, kErrorPathNotFound};
  } else {
    if (userTemp.error != 0) return userTemp;
    root = userTemp.folder;
  }
  if (root.find(L';') != std::wstring::npos) return {{}, kErrorBadPathname};
  if (const Status reached = system.CheckReachedWithoutLinks(root); !reached) {
    return {{}, reached.error()};
  }
  return {root, 0};
}

Status RemoveTree(System& system, const std::wstring& folder) {
  return RemoveTreeAt(system, folder, 0);
}

void SweepStaleFolders(System& system, const std::wstring& root, const std::wstring& ownFolder) {
  // Only folders with the owner of the run's own folder are taken for runs'. Users may make
  // folders under the Windows folder's Temp, with any name; one of theirs could turn into a
  // junction while it is being emptied and steer the deletions elsewhere, while a folder owned by
  // Administrators with the private access list is out of their reach.
  const std::optional<std::wstring> owner = system.OwnerOf(ownFolder);
  if (!owner) return;
  const Outcome<std::vector<FolderEntry>> entries = system.ListFolder(root);
  if (!entries) return;
  for (const FolderEntry& entry : *entries) {
    if (!StartsWithPrefix(entry.name) || (entry.attributes & kFileAttributeDirectory) == 0 ||
        (entry.attributes & kFileAttributeReparsePoint) != 0) {
      continue;
    }
    const std::wstring folder = JoinPath(root, entry.name);
    if (folder == ownFolder || system.OwnerOf(folder) != owner) continue;
    const Status unlocked = system.DeleteFileNamed(JoinPath(folder, kRunLockName));
    if (unlocked || unlocked.error() == kErrorFileNotFound) RemoveTree(system, folder);
  }
}

Outcome<std::unique_ptr<PrivateFolder>> PrivateFolder::Create(System& system,
                                                              const std::wstring& root,
                                                              bool elevated) {
  std::wstring sid;
  if (!elevated) {
    const std::optional<std::wstring> user = system.CurrentUserSid();
    if (!user) return Failure{kErrorAccessDenied};
    sid = *user;
  }
  const std::wstring access = PrivateFolderAccess(elevated, sid);
  Failure failure{kErrorAlreadyExists};
  for (int attempt = 0; attempt < kPrivateFolderAttempts; ++attempt) {
    std::byte random[kPrivateNameRandomBytes];
    if (const Status drawn = system.RandomBytes(random); !drawn) return Failure{drawn.error()};
    const std::wstring path = JoinPath(root, PrivateFolderName(random));
    const Status made = system.CreateFolderWithAccess(path, access);
    failure = Failure{made.error()};
    if (made.error() == kErrorAlreadyExists || made.error() == kErrorFileExists) continue;
    if (!made) return failure;
    // Made in one step where no user could have put a link in the way; looked at once more so
    // that a root swapped in between cannot go unnoticed.
    const Status reached = system.CheckReachedWithoutLinks(path);
    Outcome<std::unique_ptr<WritableFile>> lock =
        reached ? system.CreateRegularFileForWriting(JoinPath(path, kRunLockName))
                : Outcome<std::unique_ptr<WritableFile>>(Failure{reached.error()});
    if (lock) {
      return std::unique_ptr<PrivateFolder>(new PrivateFolder(system, path, std::move(*lock)));
    }
    failure = lock.failure();
    RemoveTree(system, path);
    // The folder went away under a concurrent sweep: another name.
    if (failure.error != kErrorPathNotFound && failure.error != kErrorFileNotFound) return failure;
  }
  return failure;
}

PrivateFolder::~PrivateFolder() {
  if (lock_) lock_->Close();
  lock_.reset();
  RemoveTree(system_, path_);
}

}  // namespace updater
