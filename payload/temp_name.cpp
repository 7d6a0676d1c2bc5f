#include "payload/temp_name.h"

#include "payload/temp_folder.h"

namespace updater {

bool TempNameGenerator::ChooseName(System& system, std::wstring& name) {
  // Only a real temporary folder will do: the copy is handed to the installer service, and the
  // current folder (often a downloads folder) is no place for it.
  if (refusal_ != 0) {
    system.SetLastErrorCode(refusal_);
    return false;
  }
  if (fixedDirectory_.empty()) {
    const FolderChoice folder = ChooseUserTempFolder(system);
    if (folder.error != 0) {
      system.SetLastErrorCode(folder.error);
      return false;
    }
    directory_ = folder.folder;
  } else {
    directory_ = fixedDirectory_;
  }
  if (directory_.back() != L'\\' && directory_.back() != L'/') directory_ += L'\\';

  const size_t prefixLength = std::char_traits<wchar_t>::length(kTempNamePrefix);
  if (prefixLength > lastPrefixLength_) counter_ = 1;
  lastPrefixLength_ = prefixLength;
  advancedInRequest_ = 0;
  return ChooseNextName(system, name);
}

bool TempNameGenerator::ChooseNextName(System& system, std::wstring& name) {
  while (advancedInRequest_ < kMaxNamesPerRequest) {
    ++advancedInRequest_;
    ++counter_;
    std::wstring candidate = directory_ + kTempNamePrefix + std::to_wstring(counter_);
    // A name whose existence cannot be tested for lack of access is as good as taken; any other
    // failure of the test says nothing about the name and would recur for every number.
    switch (system.QueryPath(candidate)) {
      case PathState::kMissing:
        name = std::move(candidate);
        return true;
      case PathState::kUnknown:
        return false;
      default:
        break;
    }
  }
  system.SetLastErrorCode(kErrorFileExists);
  return false;
}

}  // namespace updater
