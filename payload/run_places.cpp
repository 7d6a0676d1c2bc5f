#include "payload/run_places.h"

#include "payload/extract_folder.h"
#include "payload/log_folder.h"
#include "payload/private_folder.h"
#include "payload/user_temp_folder.h"
#include "platform/link_free_path.h"

namespace updater {

RunPlaces FindRunPlaces(System& system, bool elevated) {
  RunPlaces places;
  // The user's temporary folder and the private root are chosen once, here.
  places.userTemp = ChooseUserTempFolder(system);
  places.privateRoot = ChoosePrivateRoot(system, elevated, places.userTemp);
  places.extractFolder = ChooseExtractFolder(system, elevated, places.userTemp);
  const std::wstring logFolder =
      ChooseLogFolder(system, elevated, places.userTemp, places.privateRoot).folder;
  places.installerLogFolder = logFolder;
  while (!places.installerLogFolder.empty() &&
         (places.installerLogFolder.back() == L'\\' || places.installerLogFolder.back() == L'/')) {
    places.installerLogFolder.pop_back();
  }
  if (!logFolder.empty() && CheckReachedWithoutLinks(system, logFolder)) {
    places.runLogFolder = logFolder;
  }
  return places;
}

}  // namespace updater
