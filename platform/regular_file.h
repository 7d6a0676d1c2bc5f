// Files the updater writes at names others can reach (its run log, its lock, the installer's
// logs): only ever a regular file of one name, reached without a link or junction.
#pragma once

#include <memory>
#include <string>

#include "platform/outcome.h"
#include "platform/system.h"

namespace updater {

// Creates, or opens and empties, the regular file at the full path for writing, never through a
// link or junction (on the way or at the name) and never over anything but a regular file of
// one name. A link at the name, or a second name of another file, refuses the file with
// kErrorCantResolveFilename and stays as it is (what it points to untouched); a folder or device
// at the name refuses it with kErrorBadFileType; a path without a folder, with
// kErrorBadPathname. Shared as sharing says (for reading only unless told), never for deleting,
// while open: the very handle that made or emptied the file is the one handed back, so the file
// is never without a holder. Otherwise the opening's error (kErrorSharingViolation where a handle
// open elsewhere does not admit this one).
Outcome<std::unique_ptr<WritableFile>> CreateRegularFileForWriting(
    System& system, const std::wstring& path, FileSharing sharing = FileSharing::kReading);

// CreateRegularFileForWriting for a new file only: anything standing at the name, a regular
// file included, refuses it with kErrorFileExists and stays as it is.
Outcome<std::unique_ptr<WritableFile>> CreateNewRegularFile(System& system,
                                                            const std::wstring& path);

}  // namespace updater
