// The run's private folder: the place of its own payload copies. It is created fresh for each
// run under a name nobody can predict, in one step with an access list of its own that nothing
// above it hands down, and is never reached through a link or junction. An elevated run keeps it
// under the Windows folder's Temp, whose path no user setting can redirect; another run under
// the user's temporary folder. Everything in it is removed when the run ends. A run that is killed
// leaves its folder behind, out of every user's reach; no later run removes it: a sweep of
// folders by name cannot be kept from following a link where the platform (Wine) neither shows a
// link on its handle nor deletes one without its target.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "payload/folder_choice.h"
#include "platform/system.h"

namespace updater {

inline constexpr wchar_t kPrivateFolderPrefix[] = L"QuorvexUpdate-";
// Held open by the run that owns the folder, without sharing deletion.
inline constexpr wchar_t kRunLockName[] = L"run.lock";
inline constexpr size_t kPrivateNameRandomBytes = 16;
// Fresh names tried before giving up; each is 128 random bits, so a second try only happens when
// something was planted at the name or the folder went away in between.
inline constexpr int kPrivateFolderAttempts = 8;

// The access list, in the security descriptor language, of the private folder: protected from
// inheritance; full control for SYSTEM (the installer service reads the copies) and, when
// elevated, Administrators, else the user the run belongs to. Children inherit it.
std::wstring PrivateFolderAccess(bool elevated, const std::wstring& userSid);

// prefix and the bytes in hexadecimal (two lower-case digits each).
std::wstring RandomFolderName(const std::wstring& prefix, std::span<const std::byte> random);

// kPrivateFolderPrefix and the bytes in hexadecimal.
inline std::wstring PrivateFolderName(std::span<const std::byte> random) {
  return RandomFolderName(kPrivateFolderPrefix, random);
}

// Where the private folders of this run's kind live: the Windows folder's Temp when elevated,
// else the user's temporary folder (userTemp, as ChooseUserTempFolder gave it). The place must
// exist, be reached without links or junctions and hold no ";" (the installer's PATCH property
// is a ";"-separated list).
FolderChoice ChoosePrivateRoot(System& system, bool elevated, const FolderChoice& userTemp);

// Removes folder and everything in it. A link or junction inside is removed itself, never
// followed. Fails with the first error met.
Status RemoveTree(System& system, const std::wstring& folder);

class PrivateFolder {
 public:
  // Creates a private folder under root (ChoosePrivateRoot) and takes its lock.
  static Outcome<std::unique_ptr<PrivateFolder>> Create(System& system, const std::wstring& root,
                                                        bool elevated);
  // Releases the lock and removes the folder with everything in it.
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  const std::wstring& path() const { return path_; }

 private:
  PrivateFolder(System& system, std::wstring path, std::unique_ptr<WritableFile> lock)
      : system_(system), path_(std::move(path)), lock_(std::move(lock)) {}

  System& system_;
  std::wstring path_;
  std::unique_ptr<WritableFile> lock_;
};

}  // namespace updater
