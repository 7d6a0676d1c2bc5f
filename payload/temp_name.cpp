#include "payload/temp_name.h"

#include "payload/temp_folder.h"
#include "platform/decimal_text.h"

namespace updater {

Outcome<std::wstring> TempNameGenerator::ChooseName(System& system) {
  // Only a real temporary folder will do: the copy is handed to the installer service, and the
  // current folder (often a downloads folder) is no place for it.
  if (refusal_ != 0) return Failure{refusal_};
  if (fixedDirectory_.empty()) {
    const FolderChoice folder = ChooseUserTempFolder(system);
    if (folder.error != 0) return Failure{folder.error};
    directory_ = folder.folder;
  } else {
    directory_ = fixedDirectory_;
  }
  if (directory_.back() != L'\\' && directory_.back() != L'/') directory_ += L'\\';

  const size_t prefixLength = std::char_traits<wchar_t>::length(kTempNamePrefix);
  if (prefixLength > lastPrefixLength_) counter_ = 1;
  lastPrefixLength_ = prefixLength;
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
