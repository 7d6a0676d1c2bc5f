// What the packer checks of a payload before carrying it, so that a broken or mistaken patch is
// found when the update is built rather than on the customers' machines: that it is a patch
// package at all, that the updater can read its target product codes (summary property 7) and its
// upgrade and target versions (summary property 5), and that the payloads fit the process that
// maps them. Also the one edit the packer makes to a patch: setting property 5 of its copy.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/packer/summary_information.h"

namespace packer {

// The outcome of checking one payload. A refusal means it must not be carried; warnings are
// printed and it is carried. edited holds the bytes to carry instead of the file's when the
// check changed a copy of it (--versions).
struct PatchVerdict {
  std::optional<std::string> refusal;
  std::vector<std::string> warnings;
  std::optional<std::vector<uint8_t>> edited;
};

// Checks the patch package in bytes; messages begin with name (the file as the user gave it).
// With versions, property 5 of a copy is set to that text first (a signed patch gets a warning
// that this breaks its signature) and the copy is checked and returned in edited.
PatchVerdict CheckPatch(std::string_view name, std::span<const uint8_t> bytes,
                        const std::optional<std::string>& versions);

enum class Architecture { kX86, kX64 };

// The most payload bytes an update of the architecture may carry in total. For x86 it is what a
// 32-bit process without a large address space can be counted on to map as one image: 1 GiB.
uint64_t PayloadLimit(Architecture architecture);

// A refusal when payloads of total bytes exceed the limit of the architecture.
std::optional<std::string> CheckPayloadTotal(Architecture architecture, uint64_t total);

}  // namespace packer
