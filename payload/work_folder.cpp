#include "payload/work_folder.h"

#include <vector>

namespace updater {

void StripTrailingBackslash(std::wstring& path) {
  if (path.empty() || path.back() != L'\\') return;
  if (path.size() == 1 || path[path.size() - 2] != L':') path.pop_back();
}

bool IsExistingDirectory(System& system, const std::wstring& path) {
  const std::optional<uint32_t> attributes = system.FindFirstEntryAttributes(path);
  return attributes && (*attributes & kFileAttributeDirectory) != 0;
}

std::wstring GetWorkFolder(System& system, size_t capacity) {
  if (capacity >= 2) {
    const uint32_t size = static_cast<uint32_t>(capacity - 1);
    std::vector<wchar_t> buffer(capacity, L'\0');
    const uint32_t length = system.TempPath(size, buffer.data());
    if (length != 0 && length <= size) {
      std::wstring folder(buffer.data(), length);
      StripTrailingBackslash(folder);
      if (!folder.empty() &&
          (IsExistingDirectory(system, folder) || system.MakeDirectory(folder))) {
        return folder;
      }
    }
  }
  return L"c:";
}

}  // namespace updater
