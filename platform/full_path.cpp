#include "platform/full_path.h"

#include <vector>

#include "platform/path_limits.h"

namespace updater {

Outcome<std::wstring> GetFullPath(System& system, const std::wstring& path) {
  std::vector<wchar_t> buffer(kMaxPathCapacity, L'\0');
  const Outcome<uint32_t> length =
      system.FullPathName(path, static_cast<uint32_t>(kMaxPathCapacity), buffer.data());
  if (!length) return length.failure();
  if (*length >= kMaxPathCapacity) return Failure{kErrorFilenameExcedRange};
  return std::wstring(buffer.data(), *length);
}

}  // namespace updater
