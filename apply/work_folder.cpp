#include "apply/work_folder.h"

#include <vector>

namespace updater {

void StripTrailingBackslash(std::wstring& path) {
  if (path.empty() || path.back() != L'\\') return;
  if (path.size() == 1 || path[path.size() - 2] != L':') path.pop_back();
}

std::wstring GetWorkFolder(System& system, size_t capacity) {
  if (capacity >= 2) {
    const uint32_t size = static_cast<uint32_t>(capacity - 1);
    std::vector<wchar_t> buffer(capacity, L'\0');
    const Outcome<uint32_t> length = system.TempPath(size, buffer.data());
    if (length && *length <= size) {
      std::wstring folder(buffer.data(), *length);
      StripTrailingBackslash(folder);
      // A drive root keeps its backslash and is no work folder.
      const bool usable = !folder.empty() && folder.back() != L'\\';
      if (usable && (system.QueryPath(folder) == PathState::kDirectory ||
                     system.MakeDirectory(folder).ok())) {
        return folder;
      }
    }
  }
  // Deliberately the root of drive C: when no temporary folder can be had, so that the logs still
  // have a place; a log that cannot be written there is missing, and the update goes on.
  return L"c:";
}

}  // namespace updater
