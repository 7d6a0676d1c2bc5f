#include "platform/regular_file.h"

#include "platform/link_free_path.h"

namespace updater {
namespace {

Outcome<std::unique_ptr<WritableFile>> CreateRegularFile(System& system, const std::wstring& path,
                                                         bool newOnly, FileSharing sharing) {
  // The folder first: a link or junction on the way would take the file elsewhere.
  const size_t separator = path.find_last_of(L'\\');
  if (separator == std::wstring::npos) return Failure{kErrorBadPathname};
  const std::wstring folder = separator == 2 ? path.substr(0, 3) : path.substr(0, separator);
  if (const Status reached = CheckReachedWithoutLinks(system, folder); !reached) {
    return Failure{reached.error()};
  }

  // Creating anew never follows a link standing at the name.
  Outcome<OpenedFile> opened = system.OpenFileForWriting(path, FileOpening::kCreateNew, sharing);
  const bool existed =
      !opened && (opened.error() == kErrorFileExists || opened.error() == kErrorAlreadyExists);
  if (!opened && !existed) return Failure{opened.error()};
  if (existed) {
    if (newOnly) return Failure{kErrorFileExists};
    // Something stands there: opened as it is, without emptying it, and looked at first.
    opened = system.OpenFileForWriting(path, FileOpening::kOpenExisting, sharing);
    if (!opened) {
      // Standing, but gone when opened: a link whose far end is missing.
      if (opened.error() == kErrorFileNotFound || opened.error() == kErrorPathNotFound) {
        return Failure{kErrorCantResolveFilename};
      }
      return Failure{opened.error()};
    }
  }
  const OpenedFileFacts& facts = opened->facts;
  if (facts.kind != OpenedKind::kFile) return Failure{kErrorBadFileType};  // a device or a folder
  // A link at the name stays as it is: some platforms (Wine) delete or move a link's target
  // when asked to delete or move the link, so nothing here ever removes one.
  if (!OpenedAsNamed(facts) || facts.linkCount > 1) {
    return Failure{kErrorCantResolveFilename};
  }
  if (existed) {
    if (const Status emptied = opened->file->Empty(); !emptied) return Failure{emptied.error()};
  }
  return std::move(opened->file);
}

}  // namespace

Outcome<std::unique_ptr<WritableFile>> CreateRegularFileForWriting(System& system,
                                                                   const std::wstring& path,
                                                                   FileSharing sharing) {
  return CreateRegularFile(system, path, false, sharing);
}

Outcome<std::unique_ptr<WritableFile>> CreateNewRegularFile(System& system,
                                                            const std::wstring& path) {
  return CreateRegularFile(system, path, true, FileSharing::kReading);
}

}  // namespace updater
