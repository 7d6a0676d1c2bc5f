#include "payload/payload_copy.h"

namespace updater {

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

}  // namespace updater
