// Writing an embedded payload to a file, and the temporary copy that applying and the report read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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
};

// A temporary copy of one payload, held read-only from its writing until it goes, so that no other
// process can change or remove it meanwhile, and then deleted, on every way out.
class PayloadCopy {
 public:
  PayloadCopy(System& system, std::wstring path, std::wstring fullPath,
              std::unique_ptr<WritableFile> held);
  ~PayloadCopy();
  PayloadCopy(PayloadCopy&& other) noexcept;
  PayloadCopy& operator=(PayloadCopy&&) = delete;
  PayloadCopy(const PayloadCopy&) = delete;
  PayloadCopy& operator=(const PayloadCopy&) = delete;

  // The name it was created under, and that name resolved, which the installer service is given.
  const std::wstring& path() const { return path_; }
  const std::wstring& fullPath() const { return fullPath_; }

 private:
  System* system_;
  std::wstring path_;
  std::wstring fullPath_;
  std::unique_ptr<WritableFile> held_;
};

struct CopyResult {
  ExtractStatus status = ExtractStatus::kFailed;
  uint32_t error = 0;               // for kFailed
  std::optional<PayloadCopy> copy;  // for kWritten
};

class PayloadStore {
 public:
  explicit PayloadStore(System& system) : system_(system) {}

  // Writes the payload resourceName byte for byte. An empty target asks for a fresh temporary
  // name, created exclusively so that nothing already standing at a name (a planted file, folder
  // or link) is ever opened; a name taken in the meantime moves on to the next number. A non-empty
  // target gives the name through DeriveTargetName with suffix (a text such as "_lp"), and an
  // existing file there is replaced. The chosen name is written back into target as soon as it is
  // settled, before the payload is looked for. A file that could not be written whole is removed
  // again, keeping the error of the failed step. With held given, a written file is not closed but
  // handed back held read-only (WritableFile::KeepReadOnly), so that it stays as written until
  // the caller is done.
  // A temporary name is chosen in tempFolder (its error when it has none).
  WriteResult WritePayload(std::wstring& target, const std::wstring& resourceName,
                           const std::wstring& suffix, const FolderChoice& tempFolder,
                           std::unique_ptr<WritableFile>* held = nullptr);

  // The payload written to a fresh temporary name in folder (the run's private folder; its error
  // when there is none) and held as a PayloadCopy, its name resolved to
  // the full path (which must fit 260 characters). A copy whose name cannot be resolved is deleted
  // again and the result fails with the resolution's error.
  CopyResult HoldPayloadCopy(const std::wstring& resourceName, const FolderChoice& folder);

 private:
  System& system_;
  TempNameGenerator tempNames_;
};

}  // namespace updater
