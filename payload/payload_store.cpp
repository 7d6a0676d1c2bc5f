#include "payload/payload_store.h"

#include "payload/derived_name.h"
#include "platform/full_path.h"

namespace updater {
namespace {

// Whether creating anew failed because something stands at the name. The creation's own error
// tells of a link whose far end is missing, which the existence test follows and finds free.
bool NameTaken(System& system, const std::wstring& path, uint32_t createError) {
  return createError == kErrorFileExists || createError == kErrorAlreadyExists ||
         system.QueryPath(path) != PathState::kMissing;
}

// Closes the file written at path (written: how the writing went) and removes it again when the
// writing or the closing failed; a write that stopped short without naming an error ran out of
// room.
WriteResult CloseWritten(System& system, std::unique_ptr<WritableFile> file,
                         const std::wstring& path, Status written) {
  const Status closed = file->Close();
  file.reset();
  if (written && !closed) written = closed;
  if (!written) {
    system.DeleteFileNamed(path);
    return {ExtractStatus::kFailed, written.error() != 0 ? written.error() : kErrorDiskFull, path};
  }
  return {ExtractStatus::kWritten, 0, path};
}

}  // namespace

WriteResult PayloadStore::WritePayloadAt(const std::wstring& path, const std::wstring& suffix,
                                         const std::wstring& resourceName) {
  const Outcome<std::wstring> name = DeriveTargetName(path, suffix);
  const std::optional<std::span<const std::byte>> payload =
      system_.FindPayloadResource(resourceName);
  if (!payload) return {ExtractStatus::kNotCarried, 0, name ? *name : path};
  if (!name) return {ExtractStatus::kFailed, name.error(), path};
  if (payload->empty()) return {ExtractStatus::kFailed, kErrorInvalidData, *name};

  Outcome<std::unique_ptr<WritableFile>> file = system_.CreateFileForWriting(*name, false);
  if (!file) return {ExtractStatus::kFailed, file.error(), *name};
  const Status written = (*file)->Write(payload->data(), payload->size());
  return CloseWritten(system_, std::move(*file), *name, written);
}

PayloadStore::NewFile PayloadStore::WriteNewFile(const std::wstring& resourceName,
                                                 const FolderChoice& folder) {
  const Outcome<std::wstring> name = tempNames_.ChooseName(system_, folder);
  std::wstring path = name ? *name : std::wstring();
  const std::optional<std::span<const std::byte>> payload =
      system_.FindPayloadResource(resourceName);
  if (!payload) return {{ExtractStatus::kNotCarried, 0, path}, nullptr, {}};
  if (!name) return {{ExtractStatus::kFailed, name.error(), path}, nullptr, {}};
  if (payload->empty()) return {{ExtractStatus::kFailed, kErrorInvalidData, path}, nullptr, {}};

  Outcome<std::unique_ptr<WritableFile>> file = system_.CreateFileForWriting(path, true);
  while (!file) {
    const uint32_t createError = file.error();
    if (!NameTaken(system_, path, createError)) {
      return {{ExtractStatus::kFailed, createError, path}, nullptr, {}};
    }
    const Outcome<std::wstring> next = tempNames_.ChooseNextName(system_);
    if (!next) return {{ExtractStatus::kFailed, createError, path}, nullptr, {}};
    path = *next;
    file = system_.CreateFileForWriting(path, true);
  }
  const Status written = (*file)->Write(payload->data(), payload->size());
  return {{ExtractStatus::kWritten, 0, path}, std::move(*file), written};
}

WriteResult PayloadStore::WritePayloadToNewFile(const std::wstring& resourceName,
                                                const FolderChoice& folder) {
  NewFile made = WriteNewFile(resourceName, folder);
  if (!made.file) return made.result;
  return CloseWritten(system_, std::move(made.file), made.result.path, made.written);
}

CopyResult PayloadStore::HoldPayloadCopy(const std::wstring& resourceName,
                                         const FolderChoice& folder) {
  NewFile made = WriteNewFile(resourceName, folder);
  if (!made.file) return {made.result.status, made.result.error, {}};
  Status written = made.written;
  if (written) written = made.file->KeepReadOnly();
  if (!written) {
    const WriteResult closed =
        CloseWritten(system_, std::move(made.file), made.result.path, written);
    return {closed.status, closed.error, {}};
  }
  // The installer service is handed the copy by its full name, wherever the process stands.
  const Outcome<std::wstring> fullPath = GetFullPath(system_, made.result.path);
  PayloadCopy copy(system_, made.result.path, fullPath ? *fullPath : std::wstring(),
                   std::move(made.file));
  if (!fullPath) return {ExtractStatus::kFailed, fullPath.error(), {}};
  return {ExtractStatus::kWritten, 0, std::move(copy)};
}

}  // namespace updater
