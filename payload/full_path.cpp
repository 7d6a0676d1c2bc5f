#include "payload/full_path.h"

#include <vector>

#include "payload/derived_name.h"

namespace updater {

bool GetFullPath(System& system, const std::wstring& path, std::wstring& fullPath) {
  std::vector<wchar_t> buffer(kMaxPathCapacity, L'\0');
  const uint32_t length =
      system.FullPathName(path, static_cast<uint32_t>(kMaxPathCapacity), buffer.data());
  if (length == 0) return false;
  if (length >= kMaxPathCapacity) {
    system.SetLastErrorCode(kErrorFilenameExcedRange);
    return false;
  }
  fullPath.assign(buffer.data(), length);
  return true;
}

}  // namespace updater
