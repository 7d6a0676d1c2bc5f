// The Win32 binding of System: each call forwards to the API.
#pragma once

#include <windows.h>

#include "platform/system.h"

namespace updater {

// A WritableFile over an open handle to path; it closes the handle.
std::unique_ptr<WritableFile> WrapWin32File(HANDLE handle, std::wstring path);

class Win32System final : public System {
 public:
  explicit Win32System(HINSTANCE instance) : instance_(instance) {}

  std::optional<std::vector<std::wstring>> CommandLineArguments() override;
  std::optional<std::span<const std::byte>> FindPayloadResource(const std::wstring& name) override;
  std::optional<std::span<const std::byte>> FindStringBlock(uint16_t blockId,
                                                            uint16_t language) override;
  uint32_t ThreadLocale() override;
  std::optional<uint32_t> SetThreadLocaleId(uint32_t locale) override;
  Outcome<uint32_t> TempPath(uint32_t bufferLength, wchar_t* buffer) override;
  Outcome<uint32_t> FullPathName(const std::wstring& path, uint32_t bufferLength,
                                 wchar_t* buffer) override;
  std::optional<std::wstring> EnvironmentVariable(const std::wstring& name) override;
  Outcome<PathState> ProbePath(const std::wstring& path) override;
  Outcome<std::unique_ptr<WritableFile>> CreateFileForWriting(const std::wstring& path,
                                                              bool exclusive) override;
  int ShowMessageBox(const std::wstring& text, const std::wstring& caption, uint32_t type) override;
  bool QueryOsVersion(uint32_t structSize, OsVersionInfo& info) override;
  std::optional<OsVersionInfo> QueryTrueOsVersion(uint32_t structSize) override;
  uint16_t ProcessorArchitecture() override;
  LocalTime CurrentLocalTime() override;
  uint32_t TickCount() override;
  void Pause(uint32_t milliseconds) override;
  Outcome<MutexState> ProbeMutex(const std::wstring& name) override;
  std::optional<bool> WindowStationVisible() override;
  Outcome<void*> LoadSystem32Library(const std::wstring& name) override;
  Outcome<void*> LoadLibraryAtPath(const std::wstring& path) override;
  std::optional<std::wstring> SystemFolder() override;
  std::optional<std::wstring> ModulePath() override;
  std::optional<uint64_t> FileSize(const std::wstring& path) override;
  bool IsElevated() override;
  std::optional<std::wstring> WindowsFolder() override;
  std::optional<std::wstring> CurrentUserSid() override;
  Status CreateFolderWithAccess(const std::wstring& path, const std::wstring& sddl) override;
  Status RandomBytes(std::span<std::byte> bytes) override;
  Outcome<OpenedForQuery> OpenForQuery(const std::wstring& path, QueryAccess access) override;
  Outcome<OpenedFile> OpenFileForWriting(const std::wstring& path, FileOpening opening,
                                         FileSharing sharing) override;
  std::optional<std::wstring> UserProfileFolder() override;
  Outcome<std::vector<FolderEntry>> ListFolder(const std::wstring& folder) override;
  Status DeleteFileNamed(const std::wstring& path) override;
  Status RemoveEmptyFolder(const std::wstring& path) override;

 private:
  std::optional<std::span<const std::byte>> LoadResourceBytes(HRSRC resource);

  HINSTANCE instance_;
};

}  // namespace updater
