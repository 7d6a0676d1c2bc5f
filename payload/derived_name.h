// Names of extracted payload files derived from the path the user gave after "/e".
#pragma once

#include <cstdint>
#include <string>

#include "platform/system.h"

namespace updater {

inline constexpr size_t kMaxPathCapacity = 260;  // characters, terminator included
inline constexpr size_t kMaxNameCapacity = 256;  // file name or extension, terminator included

// Inserts the text of suffixId (none for 0) between the file name and the extension of target's
// final component: D:\Out\Fix.msp with 317 gives D:\Out\Fix_lp.msp, and Fix.beta.msp gives
// Fix.beta_lp.msp. The extension runs from the last dot of the final component; a component
// without a dot gets the suffix at its end and no extension. False, derived untouched, when the
// target, its name with the suffix, its extension or the result does not fit the fixed buffers.
bool DeriveTargetName(System& system, const std::wstring& target, uint32_t suffixId,
                      std::wstring& derived);

}  // namespace updater
