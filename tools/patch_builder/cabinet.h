// Cabinets through libgcab: extracting a build's cabinet into a folder, and writing the patch's
// cabinet (MSZIP, files in the order given).
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace patch_builder {

// Extracts every file of the cabinet at cabinetPath into folder, each under a name of the
// extractor's own choosing (a hostile cabinet's names never reach the file system); gives the
// path of each file by its name in the cabinet, or nothing with the reason in error.
std::optional<std::map<std::string, std::string>> ExtractCabinet(const std::string& cabinetPath,
                                                                 const std::string& folder,
                                                                 std::string& error);

struct CabinetFile {
  std::string name;  // the name in the cabinet (the File table's key)
  std::string path;  // where its contents are
};

// The MSZIP cabinet of files, in their order, each dated time (UTC).
std::optional<std::vector<uint8_t>> WriteCabinet(const std::vector<CabinetFile>& files,
                                                 std::time_t time, std::string& error);

}  // namespace patch_builder
