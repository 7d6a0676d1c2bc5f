#include "payload/extract.h"

#include "payload/derived_name.h"

namespace updater {
namespace {

// Whether creating anew failed because something stands at the name. The creation's own error
// tells of a link whose far end is missing, which the existence test follows and finds free.
bool NameTaken(System& system, const std::wstring& path, uint32_t createError) {
  return createError == kErrorFileExists || createError == kErrorAlreadyExists ||
         system.QueryPath(path) != PathState::kMissing;
}

}  // namespace

ExtractStatus PayloadStore::WritePayload(std::wstring& target, const std::wstring& resourceName,
                                         uint32_t suffixId, std::unique_ptr<WritableFile>* held) {
  const bool temporary = target.empty();
  bool named;
  if (temporary) {
    named = tempNames_.ChooseName(system_, target);
  } else {
    std::wstring derived;
    named = DeriveTargetName(system_, target, suffixId, derived);
    if (named) {
      target = std::move(derived);
    } else {
      system_.SetLastErrorCode(kErrorFilenameExcedRange);
    }
  }

  const uint32_t namingError = system_.LastError();
  const std::optional<std::span<const std::byte>> payload =
      system_.FindPayloadResource(resourceName);
  if (!payload) return ExtractStatus::kNotCarried;
  if (!named) {
    system_.SetLastErrorCode(namingError);
    return ExtractStatus::kFailed;
  }
  if (payload->empty()) {
    system_.SetLastErrorCode(kErrorInvalidData);
    return ExtractStatus::kFailed;
  }

  std::unique_ptr<WritableFile> file = system_.CreateFileForWriting(target, temporary);
  while (!file) {
    const uint32_t createError = system_.LastError();
    if (!temporary || !NameTaken(system_, target, createError) ||
        !tempNames_.ChooseNextName(system_, target)) {
      system_.SetLastErrorCode(createError);
      return ExtractStatus::kFailed;
    }
    file = system_.CreateFileForWriting(target, true);
  }

  const size_t written = file->Write(payload->data(), payload->size());
  uint32_t error = system_.LastError();
  bool complete = written == payload->size();
  if (complete && held != nullptr) {
    if (file->KeepReadOnly()) {
      *held = std::move(file);
      return ExtractStatus::kWritten;
    }
    complete = false;
    error = system_.LastError();
  }
  if (!file->Close() && complete) {
    complete = false;
    error = system_.LastError();
  }
  file.reset();
  if (!complete) {
    if (error == 0) error = kErrorDiskFull;
    system_.RemoveFile(target);
    system_.SetLastErrorCode(error);
    return ExtractStatus::kFailed;
  }
  return ExtractStatus::kWritten;
}

}  // namespace updater
