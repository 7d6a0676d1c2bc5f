// The deployment descriptor of an update: what Intune (a Win32 app) and Configuration Manager (an
// application's deployment type) need to run it, detect it and remove it, written as JSON beside
// the update by scripts/build-update. Its Intune part has the shape of Microsoft Graph's
// win32LobApp, so that a script can hand it on.
//
// Every fact comes from the finished update itself: its bytes (size, SHA-256), its file name, and
// the payloads it carries. A payload's targets, versions and patch code are read only when the
// packer validated it; a field nothing validated vouches for is absent, never guessed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/packer/outcome.h"
#include "tools/packer/resource_tree.h"

namespace descriptor {

using packer::Outcome;

// What a validated patch says, as the updater reads it.
struct PatchFacts {
  std::vector<std::string> targetProductCodes;  // summary property 7
  std::string upgradeVersion;                   // property 5, before ";"
  std::vector<std::string> targetVersions;      // property 5, after ";"
  std::optional<std::string> patchCode;         // property 9 when it begins with a patch code
};

struct PayloadFacts {
  std::string resource;  // "IDR_MSP", ...
  std::uint64_t size = 0;
  std::optional<PatchFacts> patch;  // only for a payload the packer validated
};

struct UpdateFacts {
  std::string fileName;  // as the update is named where it is installed from
  std::uint64_t size = 0;
  std::string sha256;  // lower-case hex
  bool x64 = false;    // a PE32+ image, which runs on x64 Windows only
  std::vector<PayloadFacts> payloads;
};

// A version as the updater compares it (four numbers, a missing part 0), written with three parts
// when the fourth is 0 and four otherwise: ProductVersion has three parts as a rule, and a tool
// that compares versions as .NET does takes "2.0.0" for less than "2.0.0.0".
std::string VersionText(const std::string& text);

// The payloads (resources of type "MSP") of the update's resource tree, in the tree's order.
// With validated, each is read as a patch and must pass the packer's checks; without, nothing of
// their contents is read.
Outcome<std::vector<PayloadFacts>> DescribePayloads(const packer::ResourceTree& tree,
                                                    bool validated);

// The facts of the update in bytes (a PE image), named fileName.
Outcome<UpdateFacts> DescribeUpdate(std::vector<std::uint8_t> bytes, std::string fileName,
                                    bool validated);

// The SHA-256 of bytes as lower-case hex (nettle).
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

// The PowerShell detection script for an update with several target products: it exits 0 and
// writes a line (Intune's "detected") when every target installed on the machine is at least at
// its upgrade version, and exits 1 otherwise. Nothing when no payload was validated.
std::optional<std::string> DetectionScript(const UpdateFacts& facts);

// The descriptor as JSON text (two-space indent, "\n" line ends, a final "\n"). The same facts
// give the same bytes.
std::string DescriptorJson(const UpdateFacts& facts);

}  // namespace descriptor
