#include "platform/win32_system.h"

#include <shellapi.h>

#include <algorithm>

#include "platform/win32_loaded_function.h"

namespace updater {
namespace {

class Win32File final : public WritableFile {
 public:
  Win32File(HANDLE handle, std::wstring path) : handle_(handle), path_(std::move(path)) {}
  ~Win32File() override { Close(); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  Status Write(const std::byte* data, size_t size) override {
    size_t total = 0;
    // WriteFile takes 32-bit counts; larger payloads go in as few requests as that allows.
    while (total < size) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - total, 0x40000000));
      DWORD written = 0;
      if (!::WriteFile(handle_, data + total, chunk, &written, nullptr)) {
        return Failure{::GetLastError()};
      }
      total += written;
      if (written != chunk) return Failure{0};
    }
    return {};
  }

  Status KeepReadOnly() override {
    // The writer admits no other writer, so a reader opened beside it must share writing; once
    // the writer is gone, a reader that shares reading only replaces that one.
    HANDLE bridge = ::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (bridge == INVALID_HANDLE_VALUE) return Failure{::GetLastError()};
    const BOOL closed = ::CloseHandle(handle_);
    const DWORD closeError = closed ? ERROR_SUCCESS : ::GetLastError();
    handle_ = bridge;
    if (!closed) return Failure{closeError};
    HANDLE reader = ::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader == INVALID_HANDLE_VALUE) return Failure{::GetLastError()};
    ::CloseHandle(bridge);
    handle_ = reader;
    return {};
  }

  Status Empty() override {
    if (::SetEndOfFile(handle_)) return {};
    const DWORD error = ::GetLastError();
    return Failure{error != ERROR_SUCCESS ? error : ERROR_ACCESS_DENIED};
  }

  Status Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return {};
    const BOOL closed = ::CloseHandle(handle_);
    const DWORD error = closed ? ERROR_SUCCESS : ::GetLastError();
    handle_ = INVALID_HANDLE_VALUE;
    if (!closed) return Failure{error};
    return {};
  }

 private:
  HANDLE handle_;
  std::wstring path_;
};

}  // namespace

std::unique_ptr<WritableFile> WrapWin32File(HANDLE handle, std::wstring path) {
  return std::make_unique<Win32File>(handle, std::move(path));
}

std::optional<std::vector<std::wstring>> Win32System::CommandLineArguments() {
  int count = 0;
  LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (arguments == nullptr) return std::nullopt;
  std::vector<std::wstring> result(arguments, arguments + count);
  ::GlobalFree(arguments);
  return result;
}

std::optional<std::span<const std::byte>> Win32System::LoadResourceBytes(HRSRC resource) {
  if (resource == nullptr) return std::nullopt;
  const DWORD size = ::SizeofResource(instance_, resource);
  if (size == 0) return std::span<const std::byte>();
  HGLOBAL loaded = ::LoadResource(instance_, resource);
  if (loaded == nullptr) return std::nullopt;
  const void* bytes = ::LockResource(loaded);
  if (bytes == nullptr) return std::nullopt;
  return std::span<const std::byte>(static_cast<const std::byte*>(bytes), size);
}

std::optional<std::span<const std::byte>> Win32System::FindPayloadResource(
    const std::wstring& name) {
  return LoadResourceBytes(::FindResourceW(instance_, name.c_str(), L"MSP"));
}

std::optional<std::span<const std::byte>> Win32System::FindStringBlock(uint16_t blockId,
                                                                       uint16_t language) {
  return LoadResourceBytes(
      ::FindResourceExW(instance_, RT_STRING, MAKEINTRESOURCEW(blockId), language));
}

uint32_t Win32System::ThreadLocale() { return ::GetThreadLocale(); }

std::optional<uint32_t> Win32System::SetThreadLocaleId(uint32_t locale) {
  if (!::SetThreadLocale(locale)) return std::nullopt;
  return ::GetThreadLocale();
}

Outcome<uint32_t> Win32System::TempPath(uint32_t bufferLength, wchar_t* buffer) {
  const DWORD length = ::GetTempPathW(bufferLength, buffer);
  if (length == 0) return Failure{::GetLastError()};
  return static_cast<uint32_t>(length);
}

Outcome<uint32_t> Win32System::FullPathName(const std::wstring& path, uint32_t bufferLength,
                                            wchar_t* buffer) {
  const DWORD length = ::GetFullPathNameW(path.c_str(), bufferLength, buffer, nullptr);
  if (length == 0) return Failure{::GetLastError()};
  return static_cast<uint32_t>(length);
}

std::optional<std::wstring> Win32System::EnvironmentVariable(const std::wstring& name) {
  const DWORD needed = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring value(needed, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value.data(), needed);
  if (length == 0 || length >= needed) return std::nullopt;
  value.resize(length);
  return value;
}

Outcome<PathState> Win32System::ProbePath(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathState::kDirectory : PathState::kFile;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
      error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH || error == ERROR_INVALID_DRIVE) {
    return PathState::kMissing;
  }
  if (error == ERROR_ACCESS_DENIED) return PathState::kAccessDenied;
  return Failure{error};
}

Outcome<std::unique_ptr<WritableFile>> Win32System::CreateFileForWriting(const std::wstring& path,
                                                                         bool exclusive) {
  HANDLE handle =
      ::CreateFileW(path.c_str(), GENERIC_WRITE, exclusive ? FILE_SHARE_READ : 0, nullptr,
                    exclusive ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Failure{::GetLastError()};
  return std::unique_ptr<WritableFile>(std::make_unique<Win32File>(handle, path));
}

int Win32System::ShowMessageBox(const std::wstring& text, const std::wstring& caption,
                                uint32_t type) {
  return ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), type);
}

// The values both version queries give, in the seam's form.
static OsVersionInfo ToOsVersionInfo(const OSVERSIONINFOEXW& version) {
  OsVersionInfo info;
  info.majorVersion = version.dwMajorVersion;
  info.minorVersion = version.dwMinorVersion;
  info.platformId = version.dwPlatformId;
  info.suiteMask = version.wSuiteMask;
  info.productType = version.wProductType;
  info.buildNumber = version.dwBuildNumber;
  return info;
}

bool Win32System::QueryOsVersion(uint32_t structSize, OsVersionInfo& info) {
  OSVERSIONINFOEXW version;
  ::ZeroMemory(&version, sizeof(version));
  version.dwOSVersionInfoSize = structSize;
  if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return false;
  info = ToOsVersionInfo(version);
  return true;
}

std::optional<OsVersionInfo> Win32System::QueryTrueOsVersion(uint32_t structSize) {
  const auto rtlGetVersion =
      LoadedFunction<LONG(WINAPI*)(OSVERSIONINFOEXW*)>(L"ntdll.dll", "RtlGetVersion");
  if (rtlGetVersion == nullptr) return std::nullopt;
  OSVERSIONINFOEXW version;
  ::ZeroMemory(&version, sizeof(version));
  version.dwOSVersionInfoSize = structSize;
  if (rtlGetVersion(&version) != 0) return std::nullopt;  // not STATUS_SUCCESS
  return ToOsVersionInfo(version);
}

uint16_t Win32System::ProcessorArchitecture() {
  SYSTEM_INFO info;
  ::ZeroMemory(&info, sizeof(info));
  const auto getNative =
      LoadedFunction<void(WINAPI*)(LPSYSTEM_INFO)>(L"kernel32.dll", "GetNativeSystemInfo");
  if (getNative != nullptr) {
    getNative(&info);
  } else {
    ::GetSystemInfo(&info);
  }
  return info.wProcessorArchitecture;
}

LocalTime Win32System::CurrentLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return LocalTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                   now.wMinute, now.wSecond, now.wMilliseconds};
}

uint32_t Win32System::TickCount() { return ::GetTickCount(); }

void Win32System::Pause(uint32_t milliseconds) { ::Sleep(milliseconds); }

Outcome<MutexState> Win32System::ProbeMutex(const std::wstring& name) {
  HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
  if (mutex == nullptr) return Failure{::GetLastError()};
  const DWORD waited = ::WaitForSingleObject(mutex, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ::ReleaseMutex(mutex);
  ::CloseHandle(mutex);
  if (waited == WAIT_TIMEOUT) return MutexState::kOwnedElsewhere;
  if (waited == WAIT_FAILED) return Failure{::GetLastError()};
  return MutexState::kFree;
}

std::optional<bool> Win32System::WindowStationVisible() {
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (!::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags),
                                   &needed)) {
    return std::nullopt;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

Outcome<void*> Win32System::LoadSystem32Library(const std::wstring& name) {
  HMODULE library = ::LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library == nullptr) return Failure{::GetLastError()};
  return static_cast<void*>(library);
}

Outcome<void*> Win32System::LoadLibraryAtPath(const std::wstring& path) {
  HMODULE library = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) return Failure{::GetLastError()};
  return static_cast<void*>(library);
}

std::optional<std::wstring> Win32System::SystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  return std::wstring(folder, length);
}

std::optional<std::wstring> Win32System::ModulePath() {
  // The name is cut to the buffer without an error on older systems, so the buffer grows until
  // the name leaves room for its terminator.
  for (DWORD capacity = MAX_PATH; capacity <= 32768; capacity *= 2) {
    std::wstring path(capacity, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), capacity);
    if (length == 0) return std::nullopt;
    if (length < capacity - 1) {
      path.resize(length);
      return path;
    }
  }
  return std::nullopt;
}

std::optional<uint64_t> Win32System::FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace updater
