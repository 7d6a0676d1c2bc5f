// From two or more builds of a product to the patch package that brings each old build to the
// new one: reads the databases and their files, refuses what a patch cannot carry, and writes
// per old build the main transform and its paired "#" transform, the cabinet of added and changed
// files, the patch's own tables and its summary information.
#pragma once

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace patch_builder {

struct PatchRequest {
  std::vector<std::string> oldPackages;
  std::string newPackage;
  std::optional<std::string> patchCode;  // default: derived from the packages' codes
  std::string family = "Updates";
  std::optional<std::string> displayName;
  std::time_t fileTime = 0;  // the date of the files in the patch's cabinets
  std::string workFolder;    // an empty folder the builder may fill and the caller removes
};

struct BuiltPatch {
  std::vector<uint8_t> bytes;
  std::string patchCode;
  // Each transform as a standalone transform file (.mst), by its name in the patch.
  std::map<std::string, std::vector<uint8_t>> transforms;
  size_t changedFiles = 0;
};

// The patch, or the refusal (naming the row and what to do) in error.
std::optional<BuiltPatch> BuildPatch(const PatchRequest& request, std::string& error);

// "{XXXXXXXX-XXXX-5XXX-YXXX-XXXXXXXXXXXX}", a name-based GUID of text.
std::string DerivedGuid(const std::string& text);

}  // namespace patch_builder
