// The options of a payload run with the places a run would find on the fake as it stands: the
// copies in the user's temporary folder, the installer logs in the log folder.
#pragma once

#include "apply/apply_payload.h"
#include "payload/run_places.h"

namespace updater {

inline ApplyOptions PlacedOptions(System& system, ApplyOptions options = {}) {
  const RunPlaces places = FindRunPlaces(system, system.IsElevated());
  options.copyFolder = places.userTemp;
  options.logFolder = places.installerLogFolder;
  return options;
}

}  // namespace updater
