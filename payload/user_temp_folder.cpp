#include "payload/user_temp_folder.h"

#include <vector>

#include "platform/full_path.h"

namespace updater {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

FolderChoice ChooseUserTempFolder(System& system) {
  // TMP first, as GetTempPathW takes it; a relative TMP is what GetTempPathW would make a folder
  // of the current folder from, so its answer is no better.
  const std::optional<std::wstring> tmp = system.EnvironmentVariable(L"TMP");
  if (tmp && !tmp->empty()) {
    if (!IsFullPath(*tmp)) return {{}, kErrorBadPathname};
    if (system.QueryPath(*tmp) == PathState::kDirectory) return {*tmp, 0};
  }

  std::vector<wchar_t> buffer(kTempFolderCapacity, L'\0');
  const Outcome<uint32_t> length = system.TempPath(kTempFolderCapacity, buffer.data());
  if (!length || *length == 0 || *length >= kTempFolderCapacity) return {{}, kErrorPathNotFound};
  std::wstring folder(buffer.data(), *length);
  if (!IsFullPath(folder)) return {{}, kErrorBadPathname};
  while (folder.size() > 3 && IsSeparator(folder.back())) folder.pop_back();

  const Outcome<PathState> state = system.ProbePath(folder);
  if (!state) return {{}, state.error()};
  if (*state == PathState::kDirectory) return {folder, 0};
  return {{}, kErrorPathNotFound};
}

}  // namespace updater
