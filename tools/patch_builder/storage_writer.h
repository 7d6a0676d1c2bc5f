// Builds a compound file from a tree of storages and streams, over the packer's compound-file
// writer: each storage's children are linked as a balanced red-black tree in the order the
// format compares names (length first, then the upper-cased units), with zero times, so that the
// same tree always gives the same bytes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/packer/compound_file.h"

namespace patch_builder {

struct Storage {
  packer::ClassId classId{};
  std::map<std::u16string, std::vector<uint8_t>> streams;
  std::map<std::u16string, Storage> storages;
};

// The compound file (version 3) whose root storage is root (its streams are moved out).
std::vector<uint8_t> WriteCompoundFile(Storage root);

// A class id from its registry text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
packer::ClassId ClassIdFromText(const char* text);

}  // namespace patch_builder
