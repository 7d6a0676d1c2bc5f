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
  uint32_t LastError() override;
  void SetLastErrorCode(uint32_t code) override;
  uint32_t ThreadLocale() override;
  bool SetThreadLocaleId(uint32_t locale) override;
  uint32_t TempPath(uint32_t bufferLength, wchar_t* buffer) override;
  uint32_t FullPathName(const std::wstring& path, uint32_t bufferLength, wchar_t* buffer) override;
  std::optional<std::wstring> EnvironmentVariable(const std::wstring& name) override;
  PathState QueryPath(const std::wstring& path) override;
  std::optional<uint32_t> FindFirstEntryAttributes(const std::wstring& path) override;
  bool MakeDirectory(const std::wstring& path) override;
  std::unique_ptr<WritableFile> CreateFileForWriting(const std::wstring& path,
                                                     bool exclusive) override;
  bool RemoveFile(const std::wstring& path) override;
  int ShowMessageBox(const std::wstring& text, const std::wstring& caption, uint32_t type) override;
  bool QueryOsVersion(uint32_t structSize, OsVersionInfo& info) override;
  uint16_t ProcessorArchitecture() override;
  bool IsElevated() override;
  std::optional<std::wstring> WindowsFolder() override;
  std::optional<std::wstring> CurrentUserSid() override;
  uint32_t CreateFolderWithAccess(const std::wstring& path, const std::wstring& sddl) override;
  uint32_t RandomBytes(std::span<std::byte> bytes) override;
  uint32_t CheckReachedWithoutLinks(const std::wstring& path) override;
  std::unique_ptr<WritableFile> CreateRegularFileForWriting(const std::wstring& path,
                                                            uint32_t& error) override;
  std::optional<std::wstring> OwnerOf(const std::wstring& path) override;
  uint32_t ListFolder(const std::wstring& folder, std::vector<FolderEntry>& entries) override;
  uint32_t DeleteFileNamed(const std::wstring& path) override;
  uint32_t RemoveEmptyFolder(const std::wstring& path) override;

 private:
  std::optional<std::span<const std::byte>> LoadResourceBytes(HRSRC resource);

  HINSTANCE instance_;
};

}  // namespace updater
