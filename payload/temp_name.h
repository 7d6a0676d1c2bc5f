// Fresh names for temporary payload copies: "MSP" and a number in the temporary folder, the way
// the C runtime's _wtempnam picks them, implemented here so that every runtime behaves alike.
#pragma once

#include <cstdint>
#include <string>

#include "platform/outcome.h"
#include "platform/system.h"

namespace updater {

inline constexpr wchar_t kTempNamePrefix[] = L"MSP";
inline constexpr uint32_t kTempFolderCapacity = 1024;

class TempNameGenerator {
 public:
  // Starts a request: picks the directory (TMP when it names an existing folder, else the
  // temporary folder when it exists) and the first free name in it. The number goes on from the
  // previous request of the process; the first is 2. Only chooses: creates nothing. Fails with 3
  // when no temporary folder can be had (whatever the platform's own query said), with 80 when the
  // numbers run out.
  Outcome<std::wstring> ChooseName(System& system);

  // The next free name in the directory of the current request, for a name that was taken
  // between its test and its creation.
  Outcome<std::wstring> ChooseNextName(System& system);

 private:
  std::wstring directory_;
  uint32_t counter_ = 1;
  size_t lastPrefixLength_ = 0;
  uint64_t advancedInRequest_ = 0;
};

}  // namespace updater
