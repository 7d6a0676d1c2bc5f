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
// Taken names skipped within one request before it gives up. Each skip is a file-system query;
// the C runtime's own bound of 2^31 names would keep an elevated process busy for days.
inline constexpr uint64_t kMaxNamesPerRequest = 65536;

class TempNameGenerator {
 public:
  // Starts a request: picks the directory (the one set with UseDirectory, else the user's
  // temporary folder as ChooseUserTempFolder gives it, never the current folder) and the first
  // free name in it. The number goes on from the previous request of the process; the first is 2.
  // Only chooses: creates nothing. Fails with the reason when no folder can be had, when testing a
  // name fails for a reason that does not mean "taken" (a path too long, a device not ready), or
  // with kErrorFileExists when kMaxNamesPerRequest names in a row are taken.
  Outcome<std::wstring> ChooseName(System& system);

  // The next free name in the directory of the current request, for a name that was taken
  // between its test and its creation.
  Outcome<std::wstring> ChooseNextName(System& system);

  // Names are chosen in this folder from now on (the run's private folder); empty: the user's
  // temporary folder again.
  void UseDirectory(std::wstring directory) {
    fixedDirectory_ = std::move(directory);
    refusal_ = 0;
  }
  // Every request fails with this error from now on (no folder for the copies could be had).
  void Refuse(uint32_t error) { refusal_ = error; }

 private:
  uint32_t refusal_ = 0;
  std::wstring fixedDirectory_;
  std::wstring directory_;
  uint32_t counter_ = 1;
  size_t lastPrefixLength_ = 0;
  uint64_t advancedInRequest_ = 0;
};

}  // namespace updater
