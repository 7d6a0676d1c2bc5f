// Writing the embedded payloads to files: where "/e" asks for them, and as the held temporary
// copies that applying and the report read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "payload/folder_choice.h"
#include "payload/payload_copy.h"
#include "payload/temp_name.h"
#include "platform/system.h"

namespace updater {

enum class ExtractStatus {
  kWritten,     // the whole payload is in the file
  kNotCarried,  // the executable has no such payload; no file was created
  kFailed,      // the payload is carried but could not be written; the result's error tells why
};

struct WriteResult {
  ExtractStatus status = ExtractStatus::kFailed;
  uint32_t error = 0;  // the Windows error of the failed step, for kFailed
  // The file's name, settled before the payload is looked for: the name written, or the one it
  // would have had. Where no name could be had, the path given, or empty for a temporary name.
  std::wstring path;
};

struct CopyResult {
  ExtractStatus status = ExtractStatus::kFailed;
  uint32_t error = 0;               // for kFailed
  std::optional<PayloadCopy> copy;  // for kWritten
};

// Every write puts the payload in byte for byte; a file that could not be written whole is
// removed again, keeping the error of the failed step.
class PayloadStore {
 public:
  explicit PayloadStore(System& system) : system_(system) {}

  // The payload resourceName written to the name DeriveTargetName gives for path and suffix (a
  // text such as "_lp"); an existing file there is replaced.
  WriteResult WritePayloadAt(const std::wstring& path, const std::wstring& suffix,
                             const std::wstring& resourceName);

  // The payload resourceName written to a fresh temporary name in folder (its error when it has
  // none), created exclusively so that nothing already standing at a name (a planted file, folder
  // or link) is ever opened; a name taken in the meantime moves on to the next number. The file
  // is closed and stays.
  WriteResult WritePayloadToNewFile(const std::wstring& resourceName, const FolderChoice& folder);

  // The payload written as WritePayloadToNewFile writes it in folder (the run's private folder;
  // its error when there is none), but held read-only from its writing on
  // (WritableFile::KeepReadOnly) as a PayloadCopy, its name resolved to the full path (which must
  // fit 260 characters). A copy whose name cannot be resolved is deleted again and the result
  // fails with the resolution's error.
  CopyResult HoldPayloadCopy(const std::wstring& resourceName, const FolderChoice& folder);

 private:
  // A fresh temporary file with the payload written into it, still open; no file where the
  // result tells why the writing ended before one was made.
  struct NewFile {
    WriteResult result;
    std::unique_ptr<WritableFile> file;
    Status written;  // how writing the payload into file went
  };
  NewFile WriteNewFile(const std::wstring& resourceName, const FolderChoice& folder);

  System& system_;
  TempNameGenerator tempNames_;
};

}  // namespace updater
