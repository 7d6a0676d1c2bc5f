// Whether a folder lies in the profile of the user the process runs as: the rule an elevated run
// keeps for the folders it writes the user's files into.
#pragma once

#include <string>

#include "platform/system.h"

namespace updater {

// Whether folder is profile or lies below it, compared without regard to case; a folder with a
// "." or ".." part (or one of dots and blanks only, which Windows takes the same way) never does.
bool LiesWithin(const std::wstring& folder, const std::wstring& profile);

// Whether folder lies in the profile of the user the process runs as, as its token gives it.
bool LiesInUsersProfile(System& system, const std::wstring& folder);

}  // namespace updater
