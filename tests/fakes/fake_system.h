// An in-memory System for unit tests: a file system of paths, resources, string tables, the
// thread locale, and a record of every message box.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>

#include "platform/system.h"

namespace updater::testing {

struct ShownBox {
  std::wstring text;
  std::wstring caption;
  uint32_t type;
};

class FakeSystem : public System {
 public:
  struct Entry {
    bool directory = false;
    std::vector<std::byte> content;
  };

  FakeSystem() {
    AddDirectory(L"C:\\");
    AddDirectory(L"C:\\Temp");
    AddDirectory(L"C:\\Windows");
    AddDirectory(L"C:\\Windows\\Temp");
  }

  // --- set-up ---------------------------------------------------------------------------------
  void SetArguments(std::vector<std::wstring> arguments) { arguments_ = std::move(arguments); }
  void FailCommandLineSplit() { arguments_.reset(); }

  void AddPayload(const std::wstring& name, std::vector<std::byte> bytes) {
    payloads_[name] = std::move(bytes);
  }
  void AddPayload(const std::wstring& name, const std::string& text) {
    std::vector<std::byte> bytes(text.size());
    std::memcpy(bytes.data(), text.data(), text.size());
    payloads_[name] = std::move(bytes);
  }

  // Adds the table of one language, built in the platform's block layout.
  void AddStringTable(uint16_t language, const std::map<uint32_t, std::wstring>& texts) {
    std::map<uint16_t, std::vector<std::wstring>> blocks;
    for (const auto& [id, text] : texts) {
      auto& block = blocks[static_cast<uint16_t>(id / 16 + 1)];
      block.resize(16);
      block[id % 16] = text;
    }
    for (const auto& [blockId, strings] : blocks) {
      std::vector<std::byte> raw;
      auto put = [&raw](uint16_t unit) {
        raw.push_back(static_cast<std::byte>(unit & 0xFF));
        raw.push_back(static_cast<std::byte>(unit >> 8));
      };
      for (const std::wstring& text : strings) {
        put(static_cast<uint16_t>(text.size()));
        for (wchar_t c : text) put(static_cast<uint16_t>(c));
      }
      stringBlocks_[{blockId, language}] = std::move(raw);
    }
  }

  void SetRawStringBlock(uint16_t blockId, uint16_t language, std::vector<std::byte> raw) {
    stringBlocks_[{blockId, language}] = std::move(raw);
  }

  void AddDirectory(const std::wstring& path) { entries_[path] = Entry{true, {}}; }
  void AddFile(const std::wstring& path, const std::string& text = "planted") {
    Entry entry;
    entry.content.resize(text.size());
    std::memcpy(entry.content.data(), text.data(), text.size());
    entries_[path] = std::move(entry);
  }
  void DenyAccess(const std::wstring& path) { denied_.insert(path); }
  // A link whose far end does not exist: existence tests follow it and find nothing, while
  // creating anew refuses the name.
  void AddDanglingLink(const std::wstring& path) { danglingLinks_.insert(path); }
  // A folder on a read-only volume: it can be listed but nothing can be created in it.
  void MakeReadOnly(const std::wstring& folder) { readOnlyFolders_.insert(folder); }
  void RemoveEntry(const std::wstring& path) { entries_.erase(path); }
  // A link or junction at path (to anything): paths through it are not reached without links.
  void AddLink(const std::wstring& path) { links_.insert(path); }
  // A file that another process holds open without sharing deletion.
  void HoldElsewhere(const std::wstring& path) { heldElsewhere_.insert(path); }
  // A reader another process opened on the file at path beforehand, sharing writing (or not):
  // an opening for writing is then admitted only where the reader shares writing and the opening
  // shares reading (ERROR_SHARING_VIOLATION otherwise), as the platform's sharing rules have it.
  void PlantReader(const std::wstring& path, bool sharesWriting) {
    plantedReaders_[path] = sharesWriting;
  }
  void SetElevated(bool elevated) { elevated_ = elevated; }
  void SetWindowsFolder(std::optional<std::wstring> folder) { windowsFolder_ = std::move(folder); }
  void SetUserSid(std::optional<std::wstring> sid) { userSid_ = std::move(sid); }
  // The next bytes RandomBytes hands out, in order; then zeros.
  void QueueRandom(std::vector<std::byte> bytes) {
    random_.insert(random_.end(), bytes.begin(), bytes.end());
  }
  // An existence test of path fails with this error (a path too long, a device not ready).
  void FailQuery(const std::wstring& path, uint32_t error) { failedQueries_[path] = error; }

  void SetTempPath(std::wstring path) { tempPath_ = std::move(path); }
  void SetTempPathResult(uint32_t result) { tempPathResult_ = result; }
  void SetEnvironment(const std::wstring& name, std::optional<std::wstring> value) {
    environment_[name] = std::move(value);
  }
  void SetUserDefaultLocale(uint32_t locale) { userDefaultLocale_ = locale; }
  void SetCurrentDirectory(std::wstring path) { currentDirectory_ = std::move(path); }

  // Writes stop after this many bytes in all, as on a full disk.
  void SetFreeSpace(size_t bytes) { freeSpace_ = bytes; }
  // Called right after an existence test of path gave "missing", to take a name in between.
  std::function<void(const std::wstring&)> afterMissingTest;

  void SetOsVersion(std::optional<OsVersionInfo> extended, std::optional<OsVersionInfo> basic,
                    uint16_t architecture) {
    extendedVersion_ = extended;
    basicVersion_ = basic;
    architecture_ = architecture;
  }
  // What RtlGetVersion answers for each structure size; both nothing (the default) is an ntdll
  // without it.
  void SetTrueOsVersion(std::optional<OsVersionInfo> extended, std::optional<OsVersionInfo> basic) {
    trueExtendedVersion_ = extended;
    trueBasicVersion_ = basic;
  }
  int LegacyVersionQueries() const { return legacyVersionQueries_; }

  void SetLocalTime(LocalTime time) { localTime_ = time; }
  // Moves the clock on: the local time (within its day) and the tick count alike.
  void AdvanceClock(uint32_t milliseconds) {
    ticks_ += milliseconds;
    uint32_t total = localTime_.milliseconds + milliseconds;
    localTime_.milliseconds = static_cast<uint16_t>(total % 1000);
    total = localTime_.second + total / 1000;
    localTime_.second = static_cast<uint16_t>(total % 60);
    total = localTime_.minute + total / 60;
    localTime_.minute = static_cast<uint16_t>(total % 60);
    localTime_.hour = static_cast<uint16_t>((localTime_.hour + total / 60) % 24);
  }
  void SetTickCount(uint32_t ticks) { ticks_ = ticks; }
  // Another process owns the named mutex until the tick count reaches until; a mutex never held
  // does not exist. openError: the mutex exists but cannot be opened (access denied).
  void HoldMutexUntil(const std::wstring& name, uint32_t until) { mutexes_[name] = until; }
  std::optional<uint32_t> mutexOpenError;
  void SetWindowStationVisible(std::optional<bool> visible) { stationVisible_ = visible; }
  // LoadSystem32Library fails with this error (87: the flag is unknown to this system).
  void FailSystem32Load(uint32_t error) { system32LoadError_ = error; }
  std::optional<uint32_t> pathLoadError;
  void SetSystemFolder(std::optional<std::wstring> folder) { systemFolder_ = std::move(folder); }
  void SetModulePath(std::optional<std::wstring> path) { modulePath_ = std::move(path); }

  // --- inspection -----------------------------------------------------------------------------
  bool Exists(const std::wstring& path) const { return entries_.count(path) != 0; }
  bool IsDirectory(const std::wstring& path) const {
    auto it = entries_.find(path);
    return it != entries_.end() && it->second.directory;
  }
  std::string ContentOf(const std::wstring& path) const {
    const Entry& entry = entries_.at(path);
    return std::string(reinterpret_cast<const char*>(entry.content.data()), entry.content.size());
  }
  std::optional<std::string> ReadFile(const std::wstring& path) const {
    if (!Exists(path) || IsDirectory(path)) return std::nullopt;
    return ContentOf(path);
  }
  std::vector<std::wstring> FilesUnder(const std::wstring& folder) const {
    std::vector<std::wstring> files;
    for (const auto& [path, entry] : entries_) {
      if (!entry.directory && path.rfind(folder, 0) == 0) files.push_back(path);
    }
    return files;
  }
  // The access list a folder was created with (CreateFolderWithAccess), if any.
  std::optional<std::wstring> AccessOf(const std::wstring& path) const {
    auto it = access_.find(path);
    if (it == access_.end()) return std::nullopt;
    return it->second;
  }
  std::vector<std::wstring> DirectoriesUnder(const std::wstring& folder) const {
    std::vector<std::wstring> found;
    for (const auto& [path, entry] : entries_) {
      if (entry.directory && path.rfind(folder + L"\\", 0) == 0) found.push_back(path);
    }
    return found;
  }
  // Every file anywhere whose name starts with "MSP": the temporary payload copies.
  std::vector<std::wstring> PayloadCopies() const {
    std::vector<std::wstring> copies;
    for (const auto& [path, entry] : entries_) {
      const size_t separator = path.find_last_of(L'\\');
      if (!entry.directory && path.compare(separator + 1, 3, L"MSP") == 0) copies.push_back(path);
    }
    return copies;
  }
  const std::vector<ShownBox>& boxes() const { return boxes_; }
  const std::vector<uint32_t>& pauses() const { return pauses_; }
  int mutexProbes() const { return mutexProbes_; }
  // Every library load: "system32:<name>" or "path:<full path>".
  const std::vector<std::wstring>& libraryLoads() const { return libraryLoads_; }
  const std::vector<std::wstring>& removed() const { return removed_; }
  const std::vector<std::pair<std::wstring, bool>>& creations() const { return creations_; }
  const std::vector<uint32_t>& localesSet() const { return localesSet_; }
  int openFiles() const { return openFiles_; }
  // Whether the file is held read-only, so that nobody can change or delete it.
  bool IsHeld(const std::wstring& path) const { return held_.count(path) != 0; }
  // Whether a file this process opened for writing at path is open now and lets another writer
  // in (FileSharing::kReadingAndWriting); no opening ever shares deleting.
  bool IsHeldForWriter(const std::wstring& path) const { return heldForWriter_.count(path) != 0; }
  bool failKeepReadOnly = false;

  // --- System ---------------------------------------------------------------------------------
  std::optional<std::vector<std::wstring>> CommandLineArguments() override { return arguments_; }

  std::optional<std::span<const std::byte>> FindPayloadResource(const std::wstring& name) override {
    auto it = payloads_.find(name);
    if (it == payloads_.end()) return std::nullopt;
    return std::span<const std::byte>(it->second);
  }

  std::optional<std::span<const std::byte>> FindStringBlock(uint16_t blockId,
                                                            uint16_t language) override {
    auto it = stringBlocks_.find({blockId, language});
    if (it == stringBlocks_.end()) return std::nullopt;
    return std::span<const std::byte>(it->second);
  }

  uint32_t ThreadLocale() override { return threadLocale_; }
  std::optional<uint32_t> SetThreadLocaleId(uint32_t locale) override {
    localesSet_.push_back(locale);
    // The platform resolves the default locales and refuses identifiers it does not know.
    if (locale == 0 || locale == 0x400 || locale == 0x800) locale = userDefaultLocale_;
    if (locale > 0xFFFF) return std::nullopt;
    threadLocale_ = locale;
    return locale;
  }

  Outcome<uint32_t> TempPath(uint32_t bufferLength, wchar_t* buffer) override {
    if (tempPathResult_) {
      // A failing query leaves an error of its own, which callers must not show.
      if (*tempPathResult_ == 0) return Failure{kErrorAccessDenied};
      return *tempPathResult_;
    }
    return CopyOut(tempPath_, bufferLength, buffer);
  }

  Outcome<uint32_t> FullPathName(const std::wstring& path, uint32_t bufferLength,
                                 wchar_t* buffer) override {
    const bool absolute = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
    return CopyOut(absolute ? path : currentDirectory_ + L"\\" + path, bufferLength, buffer);
  }

  std::optional<std::wstring> EnvironmentVariable(const std::wstring& name) override {
    auto it = environment_.find(name);
    return it == environment_.end() ? std::nullopt : it->second;
  }

  Outcome<PathState> ProbePath(const std::wstring& path) override {
    if (denied_.count(path)) return PathState::kAccessDenied;
    if (auto failed = failedQueries_.find(path); failed != failedQueries_.end()) {
      return Failure{failed->second};
    }
    for (const std::wstring& name : {path, TrimSeparator(path)}) {
      if (Exists(name)) return IsDirectory(name) ? PathState::kDirectory : PathState::kFile;
    }
    if (afterMissingTest) afterMissingTest(path);
    return PathState::kMissing;
  }

  bool failMakeDirectory = false;  // no folder can be created

  Outcome<std::unique_ptr<WritableFile>> CreateFileForWriting(const std::wstring& path,
                                                              bool exclusive) override {
    creations_.emplace_back(path, exclusive);
    if (danglingLinks_.count(path) && exclusive) return Failure{kErrorFileExists};
    if (readOnlyFolders_.count(Parent(path))) return Failure{kErrorAccessDenied};
    if (denied_.count(path) || IsDirectory(path)) return Failure{kErrorAccessDenied};
    if (exclusive && Exists(path)) return Failure{kErrorFileExists};
    if (!IsDirectory(Parent(path))) return Failure{kErrorPathNotFound};
    entries_[path] = Entry{};
    return std::unique_ptr<WritableFile>(std::make_unique<File>(*this, path));
  }

  int ShowMessageBox(const std::wstring& text, const std::wstring& caption,
                     uint32_t type) override {
    boxes_.push_back({text, caption, type});
    return 1;
  }

  bool QueryOsVersion(uint32_t structSize, OsVersionInfo& info) override {
    ++legacyVersionQueries_;
    const std::optional<OsVersionInfo>& source =
        structSize == 284 ? extendedVersion_ : basicVersion_;
    if (!source) return false;
    info = *source;
    return true;
  }

  std::optional<OsVersionInfo> QueryTrueOsVersion(uint32_t structSize) override {
    return structSize == 284 ? trueExtendedVersion_ : trueBasicVersion_;
  }

  uint16_t ProcessorArchitecture() override { return architecture_; }

  LocalTime CurrentLocalTime() override { return localTime_; }
  uint32_t TickCount() override { return ticks_; }
  // Called at every Pause, before the clock moves on: something another process does meanwhile.
  std::function<void(uint32_t milliseconds)> onPause;
  void Pause(uint32_t milliseconds) override {
    if (onPause) onPause(milliseconds);
    pauses_.push_back(milliseconds);
    AdvanceClock(milliseconds);
  }
  Outcome<MutexState> ProbeMutex(const std::wstring& name) override {
    ++mutexProbes_;
    auto it = mutexes_.find(name);
    if (it == mutexes_.end()) return Failure{kErrorFileNotFound};
    if (mutexOpenError) return Failure{*mutexOpenError};
    // Differences modulo 2^32, as the tick count wraps.
    return static_cast<int32_t>(it->second - ticks_) > 0 ? MutexState::kOwnedElsewhere
                                                         : MutexState::kFree;
  }
  std::optional<bool> WindowStationVisible() override { return stationVisible_; }
  Outcome<void*> LoadSystem32Library(const std::wstring& name) override {
    libraryLoads_.push_back(L"system32:" + name);
    if (system32LoadError_) return Failure{*system32LoadError_};
    return static_cast<void*>(this);
  }
  Outcome<void*> LoadLibraryAtPath(const std::wstring& path) override {
    libraryLoads_.push_back(L"path:" + path);
    if (pathLoadError) return Failure{*pathLoadError};
    return static_cast<void*>(this);
  }
  std::optional<std::wstring> SystemFolder() override { return systemFolder_; }
  std::optional<std::wstring> ModulePath() override { return modulePath_; }
  std::optional<uint64_t> FileSize(const std::wstring& path) override {
    if (!Exists(path) || IsDirectory(path)) return std::nullopt;
    return entries_.at(path).content.size();
  }

  bool IsElevated() override { return elevated_; }
  std::optional<std::wstring> WindowsFolder() override { return windowsFolder_; }
  std::optional<std::wstring> CurrentUserSid() override { return userSid_; }

  Status CreateFolderWithAccess(const std::wstring& path, const std::wstring& sddl) override {
    if (Exists(path) || links_.count(path) || danglingLinks_.count(path)) {
      return Failure{kErrorAlreadyExists};
    }
    if (!IsDirectory(Parent(path))) return Failure{kErrorPathNotFound};
    if (readOnlyFolders_.count(Parent(path)) || failMakeDirectory) {
      return Failure{kErrorAccessDenied};
    }
    AddDirectory(path);
    access_[path] = sddl;
    return {};
  }

  Status RandomBytes(std::span<std::byte> bytes) override {
    for (std::byte& b : bytes) {
      b = random_.empty() ? std::byte{0} : random_.front();
      if (!random_.empty()) random_.erase(random_.begin());
    }
    return {};
  }

  // What stands at a name, opened as itself: a link (AddLink) at the name, or one on the way,
  // which gives what is opened another path; a file or folder reached elsewhere
  // (AddRedirectedName). Nothing there fails with kErrorFileNotFound, a planted failure
  // (FailOpeningForQuery) with its error.
  Outcome<OpenedForQuery> OpenForQuery(const std::wstring& path, QueryAccess access) override {
    if (auto failed = failedQueryOpenings_.find(path); failed != failedQueryOpenings_.end()) {
      return Failure{failed->second};
    }
    OpenedFileFacts facts;
    for (size_t end = path.find(L'\\');; end = path.find(L'\\', end + 1)) {
      const std::wstring prefix = path.substr(0, end);
      if (links_.count(prefix) || links_.count(prefix + L"\\")) {
        if (end == std::wstring::npos || prefix == TrimSeparator(path)) {
          facts.reparsePoint = true;
        } else {
          facts.reachedAsNamed = false;
        }
      }
      if (end == std::wstring::npos) break;
    }
    const bool standing = Exists(path) || Exists(TrimSeparator(path));
    if (!standing && !facts.reparsePoint && facts.reachedAsNamed) {
      return Failure{kErrorFileNotFound};
    }
    if (redirectedNames_.count(path)) facts.reachedAsNamed = false;
    facts.kind = IsDirectory(path) || IsDirectory(TrimSeparator(path)) ? OpenedKind::kFolder
                                                                       : OpenedKind::kFile;
    return OpenedForQuery{std::make_unique<QueriedEntry>(*this, path, access), facts};
  }
  // Opening path for a query fails with this error.
  void FailOpeningForQuery(const std::wstring& path, uint32_t error) {
    failedQueryOpenings_[path] = error;
  }
  // Objects opened by OpenForQuery and not yet gone.
  int openQueries() const { return openQueries_; }
  // The paths whose security was read (QueriedObject::Security), in order.
  const std::vector<std::wstring>& securityReads() const { return securityReads_; }

  // Records each opening in creations() as (path, made anew). What stands at a name: a file or
  // folder, a link (AddLink, opened as itself), a dangling link (gone when opened), a device;
  // a file may have a second name (AddSecondName) or be reached elsewhere (AddRedirectedName).
  Outcome<OpenedFile> OpenFileForWriting(const std::wstring& path, FileOpening opening,
                                         FileSharing sharing) override {
    const bool createNew = opening == FileOpening::kCreateNew;
    creations_.emplace_back(path, createNew);
    const bool standing =
        Exists(path) || links_.count(path) || danglingLinks_.count(path) || devices_.count(path);
    if (createNew && standing) return Failure{kErrorFileExists};
    if (!createNew && (!standing || danglingLinks_.count(path))) return Failure{kErrorFileNotFound};
    if (!IsDirectory(Parent(path))) return Failure{kErrorPathNotFound};
    if (denied_.count(path) || readOnlyFolders_.count(Parent(path))) {
      return Failure{kErrorAccessDenied};
    }
    if (auto reader = plantedReaders_.find(path);
        reader != plantedReaders_.end() &&
        (!reader->second || sharing != FileSharing::kReadingAndWriting)) {
      return Failure{kErrorSharingViolation};
    }
    OpenedFileFacts facts;
    facts.kind = IsDirectory(path)      ? OpenedKind::kFolder
                 : devices_.count(path) ? OpenedKind::kOther
                                        : OpenedKind::kFile;  // a link, too, is opened as a file
    facts.reparsePoint = links_.count(path) > 0;
    facts.linkCount = secondNames_.count(path) ? 2 : 1;
    facts.reachedAsNamed = redirectedNames_.count(path) == 0;
    if (createNew) entries_[path] = Entry{};
    auto file = std::make_unique<File>(*this, path);
    if (sharing == FileSharing::kReadingAndWriting) heldForWriter_.insert(path);
    return OpenedFile{std::move(file), facts};
  }
  void AddDevice(const std::wstring& path) { devices_.insert(path); }
  // The file at path is one with two names.
  void AddSecondName(const std::wstring& path) { secondNames_.insert(path); }
  // The file at path, opened, has another full path than the one asked for.
  void AddRedirectedName(const std::wstring& path) { redirectedNames_.insert(path); }

  void SetSecurity(const std::wstring& path, std::wstring security) {
    security_[path] = std::move(security);
  }
  // Reading the security of path fails with this error.
  void FailSecurityRead(const std::wstring& path, uint32_t error) {
    security_.erase(path);
    failedSecurity_[path] = error;
  }

  std::optional<std::wstring> UserProfileFolder() override { return profile_; }
  void SetProfileFolder(std::optional<std::wstring> folder) { profile_ = std::move(folder); }

  Outcome<std::vector<FolderEntry>> ListFolder(const std::wstring& folder) override {
    std::vector<FolderEntry> entries;
    if (!IsDirectory(folder)) return Failure{kErrorPathNotFound};
    const std::wstring prefix = folder + L"\\";
    for (const auto& [path, entry] : entries_) {
      if (path.rfind(prefix, 0) == 0 && path.find(L'\\', prefix.size()) == std::wstring::npos &&
          path.size() > prefix.size()) {
        entries.push_back(
            {path.substr(prefix.size()), entry.directory ? kFileAttributeDirectory : 0x80u});
      }
    }
    for (const std::wstring& link : links_) {
      if (link.rfind(prefix, 0) == 0 && link.find(L'\\', prefix.size()) == std::wstring::npos) {
        entries.push_back(
            {link.substr(prefix.size()), kFileAttributeDirectory | kFileAttributeReparsePoint});
      }
    }
    return entries;
  }

  Status DeleteFileNamed(const std::wstring& path) override {
    removed_.push_back(path);
    if (held_.count(path) || heldElsewhere_.count(path)) return Failure{kErrorSharingViolation};
    if (links_.erase(path)) return {};
    if (!Exists(path)) return Failure{kErrorFileNotFound};
    if (IsDirectory(path)) return Failure{kErrorAccessDenied};
    entries_.erase(path);
    return {};
  }

  Status RemoveEmptyFolder(const std::wstring& path) override {
    removed_.push_back(path);
    if (links_.erase(path)) return {};
    if (!IsDirectory(path)) return Failure{kErrorPathNotFound};
    for (const auto& [other, entry] : entries_) {
      if (other.rfind(path + L"\\", 0) == 0) return Failure{145};  // ERROR_DIR_NOT_EMPTY
    }
    entries_.erase(path);
    access_.erase(path);
    return {};
  }

 private:
  // Folders made with CreateFolderWithAccess read back as the default owner and the access list
  // they were made with; others as their SetSecurity, else as the user's with a grant to everyone.
  // A handle opened without asking for the security cannot read it; only a folder has any here.
  class QueriedEntry : public QueriedObject {
   public:
    QueriedEntry(FakeSystem& system, std::wstring path, QueryAccess access)
        : system_(system), path_(std::move(path)), access_(access) {
      ++system_.openQueries_;
    }
    ~QueriedEntry() override { --system_.openQueries_; }
    Outcome<std::wstring> Security() override {
      system_.securityReads_.push_back(path_);
      if (access_ != QueryAccess::kAttributesAndSecurity) return Failure{kErrorAccessDenied};
      if (!system_.IsDirectory(path_)) return Failure{kErrorFileNotFound};
      if (auto it = system_.failedSecurity_.find(path_); it != system_.failedSecurity_.end()) {
        return Failure{it->second};
      }
      if (auto it = system_.security_.find(path_); it != system_.security_.end()) {
        return it->second;
      }
      if (auto it = system_.access_.find(path_); it != system_.access_.end()) {
        return L"O:" + system_.defaultOwner_ + it->second;
      }
      return L"O:" + system_.userSid_.value_or(L"") + L"D:(A;OICI;FA;;;WD)";
    }

   private:
    FakeSystem& system_;
    std::wstring path_;
    QueryAccess access_;
  };

  class File : public WritableFile {
   public:
    File(FakeSystem& system, std::wstring path) : system_(system), path_(std::move(path)) {
      ++system_.openFiles_;
    }
    ~File() override { Close(); }
    Status Write(const std::byte* data, size_t size) override {
      size_t accepted = size;
      if (system_.freeSpace_) {
        accepted = std::min(size, *system_.freeSpace_);
        *system_.freeSpace_ -= accepted;
      }
      auto& content = system_.entries_[path_].content;
      content.insert(content.end(), data, data + accepted);
      if (accepted != size) return Failure{kErrorDiskFull};
      return {};
    }
    Status KeepReadOnly() override {
      if (system_.failKeepReadOnly) return Failure{32};  // ERROR_SHARING_VIOLATION
      system_.held_.insert(path_);
      return {};
    }
    Status Empty() override {
      system_.entries_[path_].content.clear();
      return {};
    }
    Status Close() override {
      if (open_) --system_.openFiles_;
      system_.heldForWriter_.erase(path_);
      open_ = false;
      system_.held_.erase(path_);
      return {};
    }

   private:
    FakeSystem& system_;
    std::wstring path_;
    bool open_ = true;
  };

  static std::wstring Parent(const std::wstring& path) {
    const size_t separator = path.find_last_of(L'\\');
    if (separator == std::wstring::npos) return L".";
    if (separator == 2 && path[1] == L':') return path.substr(0, 3);
    return path.substr(0, separator);
  }
  static std::wstring TrimSeparator(const std::wstring& path) {
    if (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) {
      return path.substr(0, path.size() - 1);
    }
    return path;
  }
  static uint32_t CopyOut(const std::wstring& text, uint32_t bufferLength, wchar_t* buffer) {
    if (text.size() + 1 > bufferLength) return static_cast<uint32_t>(text.size() + 1);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = L'\0';
    return static_cast<uint32_t>(text.size());
  }

  std::optional<std::vector<std::wstring>> arguments_ = std::vector<std::wstring>{L"update.exe"};
  std::map<std::wstring, std::vector<std::byte>> payloads_;
  std::map<std::pair<uint16_t, uint16_t>, std::vector<std::byte>> stringBlocks_;
  std::map<std::wstring, Entry> entries_;
  std::set<std::wstring> denied_;
  std::set<std::wstring> held_;
  std::set<std::wstring> danglingLinks_;
  std::set<std::wstring> readOnlyFolders_;
  std::set<std::wstring> links_;
  std::set<std::wstring> heldElsewhere_;
  std::set<std::wstring> heldForWriter_;
  std::set<std::wstring> devices_;
  std::set<std::wstring> secondNames_;
  std::set<std::wstring> redirectedNames_;
  std::map<std::wstring, std::wstring> access_;
  std::map<std::wstring, uint32_t> failedQueries_;
  std::map<std::wstring, std::wstring> security_;
  std::map<std::wstring, uint32_t> failedSecurity_;
  std::map<std::wstring, uint32_t> failedQueryOpenings_;
  std::vector<std::wstring> securityReads_;
  int openQueries_ = 0;
  std::map<std::wstring, bool> plantedReaders_;
  std::wstring defaultOwner_ = L"S-1-5-32-544";
  std::vector<std::byte> random_;
  bool elevated_ = true;
  // The default temporary folder lies in it, as a user's does on Windows.
  std::optional<std::wstring> profile_ = L"C:\\Temp";
  std::optional<std::wstring> windowsFolder_ = L"C:\\Windows";
  std::optional<std::wstring> userSid_ = L"S-1-5-21-1-2-3-1001";
  std::map<std::wstring, std::optional<std::wstring>> environment_;
  std::wstring tempPath_ = L"C:\\Temp\\";
  std::optional<uint32_t> tempPathResult_;
  std::wstring currentDirectory_ = L"C:\\Work";
  uint32_t threadLocale_ = 1033;
  uint32_t userDefaultLocale_ = 1033;
  std::optional<size_t> freeSpace_;
  std::optional<OsVersionInfo> extendedVersion_;
  std::optional<OsVersionInfo> basicVersion_;
  std::optional<OsVersionInfo> trueExtendedVersion_;
  std::optional<OsVersionInfo> trueBasicVersion_;
  int legacyVersionQueries_ = 0;
  uint16_t architecture_ = 0;
  LocalTime localTime_{2026, 12, 10, 4, 5, 6, 789};
  uint32_t ticks_ = 1000;
  std::optional<std::wstring> modulePath_ = L"C:\\Downloads\\update.exe";
  std::vector<ShownBox> boxes_;
  std::map<std::wstring, uint32_t> mutexes_;
  int mutexProbes_ = 0;
  std::vector<uint32_t> pauses_;
  std::optional<bool> stationVisible_ = true;
  std::optional<uint32_t> system32LoadError_;
  std::optional<std::wstring> systemFolder_ = L"C:\\Windows\\System32";
  std::vector<std::wstring> libraryLoads_;
  std::vector<std::wstring> removed_;
  std::vector<std::pair<std::wstring, bool>> creations_;
  std::vector<uint32_t> localesSet_;
  int openFiles_ = 0;
};

}  // namespace updater::testing
