// The platform's fixed path buffers, in characters with the terminator.
#pragma once

#include <cstddef>

namespace updater {

inline constexpr size_t kMaxPathCapacity = 260;  // a whole path
inline constexpr size_t kMaxNameCapacity = 256;  // a file name or an extension

}  // namespace updater
