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
// kErrorBadPathname. Shared for reading only, not for deleting, while open. Otherwise the
// opening's error.
Outcome<std::unique_ptr<WritableFile>> CreateRegularFileForWriting(System& system,
                                                                   const std::wstring& path);

// CreateRegularFileForWriting for a new file only: anything standing at the name, a regular
// file included, refuses it with kErrorFileExists and stays as it is.
Outcome<std::unique_ptr<WritableFile>> CreateNewRegularFile(System& system,
                                                            const std::wstring& path);

}  // namespace updater
