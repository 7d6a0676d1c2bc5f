#include "payload/private_folder.h"

#include <vector>

#include "platform/full_path.h"
#include "platform/link_free_path.h"
#include "platform/regular_file.h"

namespace updater {
namespace {

constexpr int kMaxTreeDepth = 32;

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

std::wstring RandomFolderName(const std::wstring& prefix, std::span<const std::byte> random) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring name = prefix;
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
  if (const Status reached = CheckReachedWithoutLinks(system, root); !reached) {
    return {{}, reached.error()};
  }
  return {root, 0};
}

Status RemoveTree(System& system, const std::wstring& folder) {
  return RemoveTreeAt(system, folder, 0);
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
    const Status reached = CheckReachedWithoutLinks(system, path);
    Outcome<std::unique_ptr<WritableFile>> lock =
        reached ? CreateRegularFileForWriting(system, JoinPath(path, kRunLockName))
                : Outcome<std::unique_ptr<WritableFile>>(Failure{reached.error()});
    if (lock) {
      return std::unique_ptr<PrivateFolder>(new PrivateFolder(system, path, std::move(*lock)));
    }
    failure = lock.failure();
    RemoveTree(system, path);
    // The folder went away in between: another name.
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
