// Where a build keeps each file's contents: an embedded cabinet (a stream of the database), an
// external cabinet beside the .msi, or the file itself uncompressed in the source tree beside
// it. Cabinets are extracted into a work folder.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "tools/patch_builder/msi_database.h"

namespace patch_builder {

// The path of each file's contents by its File key, or nothing with the reason in error.
std::optional<std::map<std::string, std::string>> LocateFiles(const Database& db,
                                                              const std::string& msiPath,
                                                              const std::string& workFolder,
                                                              std::string& error);

// Whether two files hold the same bytes.
bool SameContents(const std::string& a, const std::string& b);

}  // namespace patch_builder
