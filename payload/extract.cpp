#include "payload/extract.h"

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

}  // namespace

PayloadCopy::PayloadCopy(System& system, std::wstring path, std::wstring fullPath,
                         std::unique_ptr<WritableFile> held)
    : system_(&system),
      path_(std::move(path)),
      fullPath_(std::move(fullPath)),
      held_(std::move(held)) {}

PayloadCopy::PayloadCopy(PayloadCopy&& other) noexcept
    : system_(other.system_),
      path_(std::move(other.path_)),
      fullPath_(std::move(other.fullPath_)),
      held_(std::move(other.held_)) {
  other.system_ = nullptr;
}

PayloadCopy::~PayloadCopy() {
  if (system_ == nullptr) return;
  if (held_) held_->Close();
  system_->DeleteFileNamed(path_);
}

WriteResult PayloadStore::WritePayload(std::wstring& target, const std::wstring& resourceName,
                                       const std::wstring& suffix, const FolderChoice& tempFolder,
                                       std::unique_ptr<WritableFile>* held) {
  const bool temporary = target.empty();
  const Outcome<std::wstring> name =
      temporary ? tempNames_.ChooseName(system_, tempFolder) : DeriveTargetName(target, suffix);
  if (name) target = *name;

  const std::optional<std::span<const std::byte>> payload =
      system_.FindPayloadResource(resourceName);
  if (!payload) return {ExtractStatus::kNotCarried};
  if (!name) return {ExtractStatus::kFailed, name.error()};
  if (payload->empty()) return {ExtractStatus::kFailed, kErrorInvalidData};

  Outcome<std::unique_ptr<WritableFile>> file = system_.CreateFileForWriting(target, temporary);
  while (!file) {
    const uint32_t createError = file.error();
    if (!temporary || !NameTaken(system_, target, createError)) {
      return {ExtractStatus::kFailed, createError};
    }
    const Outcome<std::wstring> next = tempNames_.ChooseNextName(system_);
    if (!next) return {ExtractStatus::kFailed, createError};
    target = *next;
    file = system_.CreateFileForWriting(target, true);
  }

  Status written = (*file)->Write(payload->data(), payload->size());
  if (written && held != nullptr) {
    written = (*file)->KeepReadOnly();
    if (written) {
      *held = std::move(*file);
      return {ExtractStatus::kWritten};
    }
  }
  const Status closed = (*file)->Close();
  file->reset();
  if (written && !closed) written = closed;
  if (!written) {
    system_.DeleteFileNamed(target);
    // A write that stopped short without naming an error ran out of room.
    return {ExtractStatus::kFailed, written.error() != 0 ? written.error() : kErrorDiskFull};
  }
  return {ExtractStatus::kWritten};
}

CopyResult PayloadStore::HoldPayloadCopy(const std::wstring& resourceName,
                                         const FolderChoice& folder) {
  std::wstring path;
  std::unique_ptr<WritableFile> held;
  const WriteResult written = WritePayload(path, resourceName, L"", folder, &held);
  if (written.status != ExtractStatus::kWritten) return {written.status, written.error, {}};
  // The installer service is handed the copy by its full name, wherever the process stands.
  const Outcome<std::wstring> fullPath = GetFullPath(system_, path);
  PayloadCopy copy(system_, std::move(path), fullPath ? *fullPath : std::wstring(),
                   std::move(held));
  if (!fullPath) return {ExtractStatus::kFailed, fullPath.error(), {}};
  return {ExtractStatus::kWritten, 0, std::move(copy)};
}

}  // namespace updater
