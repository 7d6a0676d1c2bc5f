#include "platform/full_path.h"

#include <vector>

#include "platform/path_limits.h"

namespace updater {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

bool IsFullPath(const std::wstring& path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2])) {
    return true;
  }
  return path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]);
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && IsSeparator(folder.back())) return folder + name;
  return folder + L'\\' + name;
}

Outcome<std::wstring> GetFullPath(System& system, const std::wstring& path) {
  std::vector<wchar_t> buffer(kMaxPathCapacity, L'\0');
  const Outcome<uint32_t> length =
      system.FullPathName(path, static_cast<uint32_t>(kMaxPathCapacity), buffer.data());
  if (!length) return length.failure();
  if (*length >= kMaxPathCapacity) return Failure{kErrorFilenameExcedRange};
  return std::wstring(buffer.data(), *length);
}

}  // namespace updater
