#include "payload/temp_name.h"

#include <vector>

#include "platform/decimal_text.h"

namespace updater {
namespace {

constexpr uint64_t kMaxAdvance = 2147483647;

bool IsDirectory(System& system, const std::wstring& path) {
  return system.QueryPath(path) == PathState::kDirectory;
}

}  // namespace

bool TempNameGenerator::ChooseName(System& system, std::wstring& name) {
  std::vector<wchar_t> buffer(kTempFolderCapacity, L'\0');
  const uint32_t length = system.TempPath(kTempFolderCapacity, buffer.data());
  if (length == 0 || length >= kTempFolderCapacity) return false;
  const std::wstring tempFolder(buffer.data(), length);

  // Only a real temporary folder will do: the copy is handed to the installer service, and a
  // drive root or the current folder (often a downloads folder) is no place for it.
  const std::optional<std::wstring> tmp = system.EnvironmentVariable(L"TMP");
  if (tmp && !tmp->empty() && IsDirectory(system, *tmp)) {
    directory_ = *tmp;
  } else if (IsDirectory(system, tempFolder)) {
    directory_ = tempFolder;
  } else {
    system.SetLastErrorCode(kErrorPathNotFound);
    return false;
  }
  if (directory_.back() != L'\\' && directory_.back() != L'/') directory_ += L'\\';

  const size_t prefixLength = std::char_traits<wchar_t>::length(kTempNamePrefix);
  if (prefixLength > lastPrefixLength_) counter_ = 1;
  lastPrefixLength_ = prefixLength;
  advancedInRequest_ = 0;
  return ChooseNextName(system, name);
}

bool TempNameGenerator::ChooseNextName(System& system, std::wstring& name) {
  while (advancedInRequest_ < kMaxAdvance) {
    ++advancedInRequest_;
    ++counter_;
    std::wstring candidate = directory_ + kTempNamePrefix + DecimalText(counter_);
    // A name whose existence cannot be tested (access refused) is as good as taken.
    if (system.QueryPath(candidate) == PathState::kMissing) {
      name = std::move(candidate);
      return true;
    }
  }
  return false;
}

}  // namespace updater
