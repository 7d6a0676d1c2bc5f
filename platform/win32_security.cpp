// The Win32 binding of the security calls: the token, the Windows folder, folders with an access
// list of their own, randomness, and what a handle opened at a name shows.
#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <vector>

#include "platform/system_library.h"
#include "platform/win32_loaded_function.h"
#include "platform/win32_system.h"

namespace updater {
namespace {

// The calling thread's error, read right after the call that failed; fallback where it set none.
DWORD ErrorOr(DWORD fallback) {
  const DWORD error = ::GetLastError();
  return error != 0 ? error : fallback;
}

Status AsStatus(DWORD error) {
  if (error != 0) return Failure{error};
  return {};
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }
  void reset(HANDLE handle) {
    if (valid()) ::CloseHandle(handle_);
    handle_ = handle;
  }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

// The path an open handle really has (GetFinalPathNameByHandleW, which resolves every link and
// junction on the way), with the "\\?\" prefix taken off. Nothing where the system lacks the call.
std::optional<std::wstring> FinalPath(HANDLE handle) {
  const auto finalPath = LoadedFunction<DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD)>(
      L"kernel32.dll", "GetFinalPathNameByHandleW");
  if (finalPath == nullptr) return std::nullopt;
  std::vector<wchar_t> buffer(MAX_PATH + 8);
  DWORD length = finalPath(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = finalPath(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  }
  if (length == 0 || length >= buffer.size()) return std::wstring();
  std::wstring path(buffer.data(), length);
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

// The long form of a full path (8.3 components spelled out), as the final path has it.
std::wstring LongForm(const std::wstring& path) {
  const DWORD needed = ::GetLongPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) return path;
  std::wstring result(needed, L'\0');
  const DWORD length = ::GetLongPathNameW(path.c_str(), result.data(), needed);
  if (length == 0 || length >= needed) return path;
  result.resize(length);
  return result;
}

bool SamePath(std::wstring a, std::wstring b) {
  while (a.size() > 3 && a.back() == L'\\') a.pop_back();
  while (b.size() > 3 && b.back() == L'\\') b.pop_back();
  return a.size() == b.size() &&
         ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                          b.c_str(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

// What the object open in handle at path is, from its information: its kind, whether it is a
// link or junction opened as itself, its names, and whether its final path is the path asked for
// (always so where the system cannot tell the final path).
OpenedFileFacts FactsOf(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& information,
                        const std::wstring& path) {
  OpenedFileFacts facts;
  facts.kind = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? OpenedKind::kFolder
                                                                         : OpenedKind::kFile;
  facts.reparsePoint = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  facts.linkCount = information.nNumberOfLinks;
  const std::optional<std::wstring> final = FinalPath(handle);
  facts.reachedAsNamed = !final || SamePath(*final, LongForm(path));
  return facts;
}

// A file or folder opened to be looked at; it closes the handle.
class Win32QueriedObject final : public QueriedObject {
 public:
  explicit Win32QueriedObject(HANDLE handle) : handle_(handle) {}

  Outcome<std::wstring> Security() override {
    constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = ::GetSecurityInfo(handle_.get(), SE_FILE_OBJECT, kWhat, nullptr, nullptr,
                                         nullptr, nullptr, &descriptor);
    if (read != ERROR_SUCCESS) return Failure{read};
    LPWSTR text = nullptr;
    const BOOL converted = ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, kWhat, &text, nullptr);
    const DWORD error = converted ? 0 : ErrorOr(ERROR_INVALID_SECURITY_DESCR);
    std::wstring result = converted ? std::wstring(text) : std::wstring();
    if (converted) ::LocalFree(text);
    ::LocalFree(descriptor);
    if (error != 0) return Failure{error};
    return result;
  }

 private:
  Handle handle_;
};

std::optional<std::wstring> SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (sid == nullptr || !::ConvertSidToStringSidW(sid, &text)) return std::nullopt;
  std::wstring result(text);
  ::LocalFree(text);
  return result;
}

// One class of token information, in a buffer of its own.
std::vector<std::byte> TokenInformation(TOKEN_INFORMATION_CLASS what) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  const Handle owned(token);
  DWORD length = 0;
  ::GetTokenInformation(token, what, nullptr, 0, &length);
  std::vector<std::byte> buffer(length);
  if (length == 0 || !::GetTokenInformation(token, what, buffer.data(), length, &length)) return {};
  return buffer;
}

}  // namespace

std::optional<std::wstring> Win32System::UserProfileFolder() {
  const Outcome<void*> loaded = LoadSystemLibrary(*this, L"userenv.dll");
  if (!loaded) return std::nullopt;
  const HMODULE userenv = static_cast<HMODULE>(*loaded);
  const auto profileOf = reinterpret_cast<BOOL(WINAPI*)(HANDLE, LPWSTR, LPDWORD)>(
      reinterpret_cast<void*>(::GetProcAddress(userenv, "GetUserProfileDirectoryW")));
  std::optional<std::wstring> folder;
  HANDLE token = nullptr;
  if (profileOf != nullptr && ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    const Handle owned(token);
    // A profile folder longer than this could not hold a temporary folder within MAX_PATH.
    wchar_t buffer[MAX_PATH];
    DWORD length = MAX_PATH;
    if (profileOf(token, buffer, &length)) folder = std::wstring(buffer);
  }
  ::FreeLibrary(userenv);
  return folder;
}

bool Win32System::IsElevated() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  const Handle owned(token);
  TOKEN_ELEVATION elevation = {};
  DWORD length = 0;
  return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &length) &&
         elevation.TokenIsElevated != 0;
}

std::optional<std::wstring> Win32System::WindowsFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  UINT length = ::GetSystemWindowsDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = ::GetSystemWindowsDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
  }
  if (length == 0 || length >= buffer.size()) return std::nullopt;
  return std::wstring(buffer.data(), length);
}

std::optional<std::wstring> Win32System::CurrentUserSid() {
  const std::vector<std::byte> buffer = TokenInformation(TokenUser);
  if (buffer.empty()) return std::nullopt;
  return SidText(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
}

Status Win32System::CreateFolderWithAccess(const std::wstring& path, const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return Failure{ErrorOr(ERROR_INVALID_PARAMETER)};
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  const BOOL created = ::CreateDirectoryW(path.c_str(), &attributes);
  const DWORD error = created ? 0 : ErrorOr(ERROR_ACCESS_DENIED);
  ::LocalFree(descriptor);
  return AsStatus(error);
}

Status Win32System::RandomBytes(std::span<std::byte> bytes) {
  if (!RtlGenRandom(bytes.data(), static_cast<ULONG>(bytes.size()))) {
    return Failure{ERROR_GEN_FAILURE};
  }
  return {};
}

Outcome<OpenedForQuery> Win32System::OpenForQuery(const std::wstring& path, QueryAccess access) {
  const DWORD rights = access == QueryAccess::kAttributesAndSecurity
                           ? READ_CONTROL | FILE_READ_ATTRIBUTES
                           : FILE_READ_ATTRIBUTES;
  Handle handle(::CreateFileW(
      path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle.valid()) return Failure{ErrorOr(ERROR_FILE_NOT_FOUND)};
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(handle.get(), &information)) {
    return Failure{ErrorOr(ERROR_ACCESS_DENIED)};
  }
  const OpenedFileFacts facts = FactsOf(handle.get(), information, path);
  return OpenedForQuery{std::make_unique<Win32QueriedObject>(handle.release()), facts};
}

Outcome<OpenedFile> Win32System::OpenFileForWriting(const std::wstring& path, FileOpening opening,
                                                    FileSharing sharing) {
  const DWORD disposition = opening == FileOpening::kCreateNew ? CREATE_NEW : OPEN_EXISTING;
  const DWORD share = sharing == FileSharing::kReadingAndWriting
                          ? FILE_SHARE_READ | FILE_SHARE_WRITE
                          : FILE_SHARE_READ;
  Handle handle(::CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, share, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr));
  if (!handle.valid()) return Failure{ErrorOr(ERROR_ACCESS_DENIED)};
  OpenedFileFacts facts;
  BY_HANDLE_FILE_INFORMATION information = {};
  if (::GetFileType(handle.get()) == FILE_TYPE_DISK &&
      ::GetFileInformationByHandle(handle.get(), &information)) {
    facts = FactsOf(handle.get(), information, path);
  }
  return OpenedFile{WrapWin32File(handle.release(), path), facts};
}

Outcome<std::vector<FolderEntry>> Win32System::ListFolder(const std::wstring& folder) {
  std::vector<FolderEntry> entries;
  WIN32_FIND_DATAW data;
  const std::wstring pattern = folder + L"\\*";
  HANDLE search = ::FindFirstFileW(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ErrorOr(ERROR_PATH_NOT_FOUND);
    if (error == ERROR_FILE_NOT_FOUND) return entries;
    return Failure{error};
  }
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") entries.push_back({name, data.dwFileAttributes});
  } while (::FindNextFileW(search, &data));
  const DWORD error = ::GetLastError();
  ::FindClose(search);
  if (error != ERROR_NO_MORE_FILES) return Failure{error};
  return entries;
}

Status Win32System::DeleteFileNamed(const std::wstring& path) {
  if (!::DeleteFileW(path.c_str())) return Failure{ErrorOr(ERROR_ACCESS_DENIED)};
  return {};
}

Status Win32System::RemoveEmptyFolder(const std::wstring& path) {
  if (!::RemoveDirectoryW(path.c_str())) return Failure{ErrorOr(ERROR_ACCESS_DENIED)};
  return {};
}

}  // namespace updater
