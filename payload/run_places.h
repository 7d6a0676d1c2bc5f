// The places of one run, worked out once at its start and passed down: the user's temporary
// folder as checked, where the run's private folder is made, where the installer logs go and
// where the run log goes by default.
#pragma once

#include <string>

#include "payload/folder_choice.h"
#include "platform/system.h"

namespace updater {

struct RunPlaces {
  FolderChoice userTemp;       // ChooseUserTempFolder
  FolderChoice extractFolder;  // ChooseExtractFolder: "/e" without a path writes here
  FolderChoice privateRoot;    // ChoosePrivateRoot: the run's private folder is made here
  // ChooseLogFolder's folder without trailing separators, so that a name is joined to it with
  // one backslash (a drive root "D:\" gives "D:"); empty when there is none, and the products are
  // then patched without a log, never with one in the current folder or at a drive's root.
  std::wstring installerLogFolder;
  // ChooseLogFolder's folder when it is reached without a link or junction, else empty: the run
  // log's default place.
  std::wstring runLogFolder;
};

RunPlaces FindRunPlaces(System& system, bool elevated);

}  // namespace updater
