// Names of extracted payload files derived from the path the user gave after "/e".
#pragma once

#include <string>

#include "platform/outcome.h"

namespace updater {

// Inserts suffix between the file name and the extension of target's final component:
// D:\Out\Fix.msp with "_lp" gives D:\Out\Fix_lp.msp, and Fix.beta.msp gives Fix.beta_lp.msp. The
// extension runs from the last dot of the final component; a component without a dot gets the
// suffix at its end and no extension. Fails with 206 when the target, its name with the suffix,
// its extension or the result does not fit the platform's fixed buffers.
Outcome<std::wstring> DeriveTargetName(const std::wstring& target, const std::wstring& suffix);

}  // namespace updater
