// A folder the run chose for one of its uses, or why there is none.
#pragma once

#include <cstdint>
#include <string>

namespace updater {

// A folder, or why there is none usable: error is 0 or a platform code.
struct FolderChoice {
  std::wstring folder;
  uint32_t error = 0;
};

}  // namespace updater
