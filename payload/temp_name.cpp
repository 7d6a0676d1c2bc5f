#include "payload/temp_name.h"

#include <vector>

namespace updater {
namespace {

constexpr uint64_t kMaxAdvance = 2147483647;

bool IsDirectory(System& system, const std::wstring& path) {
  return system.QueryPath(path) == PathState::kDirectory;
}

}  // namespace

Outcome<std::wstring> TempNameGenerator::ChooseName(System& system) {
  // Without a temporary folder the reason shown is always "path not found", not what the query
  // left: the user is told that the folder is missing.
  const Failure noFolder{kErrorPathNotFound};
  std::vector<wchar_t> buffer(kTempFolderCapacity, L'\0');
  const Outcome<uint32_t> length = system.TempPath(kTempFolderCapacity, buffer.data());
  if (!length || *length >= kTempFolderCapacity) return noFolder;
  const std::wstring tempFolder(buffer.data(), *length);

  // Only a real temporary folder will do: the copy is handed to the installer service, and a
  // drive root or the current folder (often a downloads folder) is no place for it.
  const std::optional<std::wstring> tmp = system.EnvironmentVariable(L"TMP");
  if (tmp && !tmp->empty() && IsDirectory(system, *tmp)) {
    directory_ = *tmp;
  } else if (IsDirectory(system, tempFolder)) {
    directory_ = tempFolder;
  } else {
    return noFolder;
  }
  if (directory_.back() != L'\\' && directory_.back() != L'/') directory_ += L'\\';

  const size_t prefixLength = std::char_traits<wchar_t>::length(kTempNamePrefix);
  if (prefixLength > lastPrefixLength_) counter_ = 1;
  lastPrefixLength_ = prefixLength;
  advancedInRequest_ = 0;
  return ChooseNextName(system);
}

Outcome<std::wstring> TempNameGenerator::ChooseNextName(System& system) {
  while (advancedInRequest_ < kMaxAdvance) {
    ++advancedInRequest_;
    ++counter_;
    std::wstring candidate = directory_ + kTempNamePrefix + std::to_wstring(counter_);
    // A name whose existence cannot be tested (access refused) is as good as taken.
    if (system.QueryPath(candidate) == PathState::kMissing) return candidate;
  }
  return Failure{kErrorFileExists};
}

}  // namespace updater
