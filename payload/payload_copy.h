// A temporary copy of one payload that applying and the report read.
#pragma once

#include <memory>
#include <string>

#include "platform/system.h"

namespace updater {

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

}  // namespace updater
