// Fresh names for temporary payload copies: "MSP" and a number in the temporary folder, the way
// the C runtime's _wtempnam picks them, implemented here so that every runtime behaves alike.
#pragma once

#include <cstdint>
#include <string>

#include "payload/folder_choice.h"
#include "platform/outcome.h"
#include "platform/system.h"

namespace updater {

inline constexpr wchar_t kTempNamePrefix[] = L"MSP";
// Taken names skipped within one request before it gives up. Each skip is a file-system query;
// the C runtime's own bound of 2^31 names would keep an elevated process busy for days.
inline constexpr uint64_t kMaxNamesPerRequest = 65536;

class TempNameGenerator {
 public:
  // Starts a request: the first free name in folder (the run's private folder, or the user's
  // temporary folder for "/e"). The number goes on from the previous request of the process; the
  // first is 2. Only chooses: creates nothing. Fails with folder's error when there is no folder,
  // when testing a name fails for a reason that does not mean "taken" (a path too long, a device
  // not ready), or with kErrorFileExists when kMaxNamesPerRequest names in a row are taken.
  Outcome<std::wstring> ChooseName(System& system, const FolderChoice& folder);

  // The next free name in the directory of the current request, for a name that was taken
  // between its test and its creation.
  Outcome<std::wstring> ChooseNextName(System& system);

 private:
  std::wstring directory_;
  uint32_t counter_ = 1;
  uint64_t advancedInRequest_ = 0;
};

}  // namespace updater
