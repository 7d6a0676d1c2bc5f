// The narrow seam between the updater's decisions and the operating system. Everything the
// updater asks of kernel32, user32 and shell32 passes through this interface, so that the logic
// can run natively against a fake. The Win32 binding forwards each call to the API and decides
// nothing; every choice built on the results lives in the callers. A call that can fail gives its
// Windows error code back as a value, read right after the API call that set it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/outcome.h"

namespace updater {

// Win32 error codes the updater sets or tests itself.
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorFilenameExcedRange = 206;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorResourceNameNotFound = 1814;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorBadPathname = 161;
inline constexpr uint32_t kErrorBadFileType = 222;
inline constexpr uint32_t kErrorCantResolveFilename = 1921;

inline constexpr uint32_t kLocaleUserDefault = 1024;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeReparsePoint = 0x400;

// What the existence test of a path found. kUnknown: the test failed for a reason that says
// nothing about the name (a path too long, a device not ready); ProbePath's failure tells which.
enum class PathState { kMissing, kFile, kDirectory, kAccessDenied, kUnknown };

// What a look at a named mutex found: another process owns it, or it could be taken (and was
// given back at once).
enum class MutexState { kOwnedElsewhere, kFree };

// One entry of a folder listing.
struct FolderEntry {
  std::wstring name;
  uint32_t attributes = 0;
};

// A file opened for writing. Closing is explicit so that a failed close can be reported; the
// destructor closes a file that is still open.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Writes all size bytes. A failure carries the error of the write that failed, or 0 when the
  // system accepted fewer bytes without naming an error.
  virtual Status Write(const std::byte* data, size_t size) = 0;
  // Trades the write access for a read-only hold that others may share for reading only: from
  // then on no other process can change, replace or delete the file, while the installer service
  // can still open it. A handle is open at every moment of the exchange, so the file can never be
  // deleted or renamed in between. Fails when another process holds it open for writing.
  virtual Status KeepReadOnly() = 0;
  virtual Status Close() = 0;
  // Cuts the file to nothing at the position written to, the start for a file just opened.
  virtual Status Empty() = 0;
};

// How OpenFileForWriting reaches the file at its name.
enum class FileOpening {
  kCreateNew,     // a file made there and then; fails with kErrorFileExists where anything stands
  kOpenExisting,  // what stands there, as it is, without emptying it
};

// Whom a file opened for writing lets in beside it while it is open. Deleting and renaming are
// never shared, so nobody can take the file's name away while the handle is held.
enum class FileSharing {
  kReading,            // readers only
  kReadingAndWriting,  // readers and another writer (the installer service writing its log)
};

// What stands at a name, as the handle opened on it (never following a link at the name) shows.
enum class OpenedKind { kFile, kFolder, kOther };  // kOther: a device, or nothing to describe
struct OpenedFileFacts {
  OpenedKind kind = OpenedKind::kOther;
  bool reparsePoint = false;   // a link or junction at the name, opened as itself
  uint32_t linkCount = 1;      // the names the file has
  bool reachedAsNamed = true;  // the object opened has the very path asked for (no link on the way)
};

struct OpenedFile {
  std::unique_ptr<WritableFile> file;
  OpenedFileFacts facts;
};

// What OpenForQuery asks of the object at a name besides what stands there.
enum class QueryAccess {
  kAttributes,             // only its attributes
  kAttributesAndSecurity,  // its owner and access list as well (READ_CONTROL)
};

// A file or folder opened to be looked at, never changed; the handle closes when it goes.
class QueriedObject {
 public:
  virtual ~QueriedObject() = default;
  // The owner and the access list in the security descriptor language ("O:...D:...",
  // GetSecurityInfo), read on this handle, which must have been opened with
  // QueryAccess::kAttributesAndSecurity.
  virtual Outcome<std::wstring> Security() = 0;
};

struct OpenedForQuery {
  std::unique_ptr<QueriedObject> object;
  OpenedFileFacts facts;
};

// The values of OSVERSIONINFOEXW that the operating-system description uses.
struct OsVersionInfo {
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t platformId = 0;
  uint16_t suiteMask = 0;
  uint8_t productType = 0;
  uint32_t buildNumber = 0;
};

// A local date and time as GetLocalTime gives it.
struct LocalTime {
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

class System {
 public:
  virtual ~System() = default;

  // The process command line split into arguments (GetCommandLineW, CommandLineToArgvW); the
  // first is the program's own path. Nothing when the split fails.
  virtual std::optional<std::vector<std::wstring>> CommandLineArguments() = 0;

  // The bytes of the executable's resource of type "MSP" with this name, found without naming a
  // language (FindResourceW, SizeofResource, LoadResource, LockResource). Nothing when it is
  // absent or cannot be loaded; an empty span for a resource of size 0.
  virtual std::optional<std::span<const std::byte>> FindPayloadResource(
      const std::wstring& name) = 0;

  // The raw string-table block blockId in exactly this language (FindResourceExW on RT_STRING).
  virtual std::optional<std::span<const std::byte>> FindStringBlock(uint16_t blockId,
                                                                    uint16_t language) = 0;

  // The thread locale (GetThreadLocale).
  virtual uint32_t ThreadLocale() = 0;
  // SetThreadLocale, then the locale in force: the platform resolves the default locales (0, 1024,
  // 2048) to the user's or the system's. Nothing, the locale unchanged, when the platform refuses
  // the identifier.
  virtual std::optional<uint32_t> SetThreadLocaleId(uint32_t locale) = 0;

  // GetTempPathW: the folder with a trailing backslash into buffer, and its length; or the size
  // needed, terminator included, when bufferLength is too small; or the call's error.
  virtual Outcome<uint32_t> TempPath(uint32_t bufferLength, wchar_t* buffer) = 0;

  // GetFullPathNameW with the same contract as TempPath.
  virtual Outcome<uint32_t> FullPathName(const std::wstring& path, uint32_t bufferLength,
                                         wchar_t* buffer) = 0;

  virtual std::optional<std::wstring> EnvironmentVariable(const std::wstring& name) = 0;

  // Whether a file or directory of this name exists, and which (GetFileAttributesW). A test that
  // fails for a reason that says nothing about the name (kUnknown) fails with that reason.
  virtual Outcome<PathState> ProbePath(const std::wstring& path) = 0;
  // ProbePath with such a failure reduced to kUnknown.
  PathState QueryPath(const std::wstring& path) {
    const Outcome<PathState> state = ProbePath(path);
    return state ? *state : PathState::kUnknown;
  }

  // Creates a file for writing. With exclusive set the call fails when anything already stands at
  // path (CREATE_NEW), otherwise an existing file is truncated (CREATE_ALWAYS). While it is open
  // the file is shared for nothing when exclusive is clear (a file at a name the user gave) and
  // for reading when it is set (a temporary copy, read back before it is held read-only).
  virtual Outcome<std::unique_ptr<WritableFile>> CreateFileForWriting(const std::wstring& path,
                                                                      bool exclusive) = 0;

  // MessageBoxW with no owner window.
  virtual int ShowMessageBox(const std::wstring& text, const std::wstring& caption,
                             uint32_t type) = 0;

  // GetVersionExW with the structure size field set to structSize (284 or 276); false when the
  // query fails.
  virtual bool QueryOsVersion(uint32_t structSize, OsVersionInfo& info) = 0;

  // RtlGetVersion, looked up in the loaded ntdll.dll at run time, with the structure size field
  // set to structSize (284 or 276). Unlike GetVersionExW it gives the version Windows really
  // runs: GetVersionExW answers 6.2 on Windows 8.1 and later to a program whose manifest does not
  // list those releases. Nothing when ntdll does not export it or the call fails.
  virtual std::optional<OsVersionInfo> QueryTrueOsVersion(uint32_t structSize) = 0;

  // wProcessorArchitecture from GetNativeSystemInfo when kernel32 exports it, else GetSystemInfo.
  virtual uint16_t ProcessorArchitecture() = 0;

  // The local date and time now (GetLocalTime).
  virtual LocalTime CurrentLocalTime() = 0;

  // Milliseconds since the system started (GetTickCount). It wraps after 49.7 days, so only
  // differences of two readings, taken modulo 2^32, mean anything.
  virtual uint32_t TickCount() = 0;

  // Sleep: the thread waits this many milliseconds.
  virtual void Pause(uint32_t milliseconds) = 0;

  // Whether another process owns the named mutex right now: OpenMutexW with SYNCHRONIZE, then a
  // wait of 0 ms; a mutex taken that way is released at once. kFree: it was free (or abandoned
  // by an owner that ended) and has been given back. Fails with the opening's error (2 when no
  // such mutex exists).
  virtual Outcome<MutexState> ProbeMutex(const std::wstring& name) = 0;

  // Whether the process's window station is visible (UOI_FLAGS of GetProcessWindowStation has
  // WSF_VISIBLE); nothing when the query fails.
  virtual std::optional<bool> WindowStationVisible() = 0;

  // LoadLibraryExW(name, LOAD_LIBRARY_SEARCH_SYSTEM32): the module handle, or the load's error
  // (87 where the flag is unknown: Windows Vista and 7 without KB2533623).
  virtual Outcome<void*> LoadSystem32Library(const std::wstring& name) = 0;
  // LoadLibraryExW(path, LOAD_WITH_ALTERED_SEARCH_PATH) on a full path: the DLL's own folder
  // serves the search for its dependencies.
  virtual Outcome<void*> LoadLibraryAtPath(const std::wstring& path) = 0;
  // The system folder (GetSystemDirectoryW), without a trailing backslash.
  virtual std::optional<std::wstring> SystemFolder() = 0;

  // The full path of the running executable (GetModuleFileNameW); nothing when it cannot be had.
  virtual std::optional<std::wstring> ModulePath() = 0;

  // The size in bytes of the file at path (GetFileAttributesExW); nothing for a folder or when
  // it cannot be read.
  virtual std::optional<uint64_t> FileSize(const std::wstring& path) = 0;

  // --- security: the token, protected folders, randomness, links -----------------------------

  // Whether the process token is elevated (TokenElevation); false where the system cannot tell.
  virtual bool IsElevated() = 0;

  // The shared Windows folder (GetSystemWindowsDirectoryW), which no user setting redirects.
  virtual std::optional<std::wstring> WindowsFolder() = 0;

  // The string form (S-1-...) of the user the process runs as.
  virtual std::optional<std::wstring> CurrentUserSid() = 0;

  // Creates a folder with exactly the access list given in the security descriptor language, in
  // one step, so that it never exists with any other access list. Fails when anything already
  // stands at the name, a link included.
  virtual Status CreateFolderWithAccess(const std::wstring& path, const std::wstring& sddl) = 0;

  // Fills bytes from the system's cryptographic generator.
  virtual Status RandomBytes(std::span<std::byte> bytes) = 0;

  // Opens the full path, file or folder, to look at what stands there, sharing everything and
  // never following a link or junction at the name: one at the name is opened as itself. Decides
  // nothing about what it opened: the facts tell what that is and whether it has the very path
  // asked for. Otherwise the error of the opening or of reading the facts.
  virtual Outcome<OpenedForQuery> OpenForQuery(const std::wstring& path, QueryAccess access) = 0;

  // Opens the full path for writing (and reading its attributes), shared as sharing says and never
  // for deleting, never following a link or junction at the name: one at the name is opened as
  // itself. Decides nothing about what it opened: the facts tell what that is. Otherwise the
  // opening's error (kErrorSharingViolation where a handle open elsewhere does not admit this one).
  virtual Outcome<OpenedFile> OpenFileForWriting(const std::wstring& path, FileOpening opening,
                                                 FileSharing sharing) = 0;

  // The profile folder of the user the process runs as, as its token gives it
  // (GetUserProfileDirectoryW; userenv.dll loaded from the system folder only); nothing where
  // it cannot be had.
  virtual std::optional<std::wstring> UserProfileFolder() = 0;

  // The entries of a folder, "." and ".." left out (FindFirstFileW on folder\*).
  virtual Outcome<std::vector<FolderEntry>> ListFolder(const std::wstring& folder) = 0;

  // Removes a file (DeleteFileW) or an empty folder (RemoveDirectoryW).
  virtual Status DeleteFileNamed(const std::wstring& path) = 0;
  virtual Status RemoveEmptyFolder(const std::wstring& path) = 0;
};

}  // namespace updater
