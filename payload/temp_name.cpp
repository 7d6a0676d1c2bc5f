#include "payload/temp_name.h"

#include "platform/decimal_text.h"

namespace updater {

Outcome<std::wstring> TempNameGenerator::ChooseName(System& system, const FolderChoice& folder) {
  // Only a real folder will do: the copy is handed to the installer service, and the current
  // folder (often a downloads folder) is no place for it.
  if (folder.error != 0) return Failure{folder.error};
  if (folder.folder.empty()) return Failure{kErrorPathNotFound};
  directory_ = folder.folder;
  if (directory_.back() != L'\\' && directory_.back() != L'/') directory_ += L'\\';
  advancedInRequest_ = 0;
  return ChooseNextName(system);
}

Outcome<std::wstring> TempNameGenerator::ChooseNextName(System& system) {
  while (advancedInRequest_ < kMaxNamesPerRequest) {
    ++advancedInRequest_;
    ++counter_;
    std::wstring candidate = directory_ + kTempNamePrefix + DecimalText(counter_);
    // A name whose existence cannot be tested for lack of access is as good as taken; any other
    // failure of the test says nothing about the name and would recur for every number.
    const Outcome<PathState> state = system.ProbePath(candidate);
    if (!state) return state.failure();
    if (*state == PathState::kMissing) return candidate;
  }
  return Failure{kErrorFileExists};
}

}  // namespace updater
