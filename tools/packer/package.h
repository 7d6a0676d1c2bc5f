// An update: the stub image with its resource section rebuilt to carry the payloads, planned in
// memory (everything but the payload contents) and then written in one pass that streams each
// payload from its file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <span>
#include <vector>

#include "tools/packer/outcome.h"
#include "tools/packer/pe_image.h"
#include "tools/packer/resource_tree.h"

namespace packer {

// A path as UTF-8 text, for messages.
std::string PathText(const std::filesystem::path& path);

// The resource type that carries the payloads.
inline constexpr std::u16string_view kPayloadType = u"MSP";

struct Payload {
  ResourceName name;
  std::uint16_t language = 0;
  ResourceData data;  // placed at a page boundary whatever its pageAligned says
};

struct Package {
  // A run of the output file: bytes held here, or a resource's data.
  struct Part {
    std::uint64_t offset = 0;
    std::span<const std::uint8_t> bytes;
    const ResourceData* data = nullptr;
  };

  PeImage stub;
  ResourceTree tree;
  ResourceLayout resources;
  std::vector<std::uint8_t> headers;  // the stub up to its resource section, headers fixed
  std::vector<Part> parts;            // in ascending order, gaps are zeros
  std::uint64_t size = 0;
  std::size_t checkSumOffset = 0;
};

// Plans the update: the stub's resources stay as they are, except that every resource of the
// payload type is replaced by the given payloads. The resource section is rebuilt in place; only
// a base relocation section may follow it, and it moves up behind the new one. Time stamps are
// the stub's, so the output depends on nothing but the stub and the payloads. A certificate
// table of a signed stub is dropped (the signature would not cover the update). Refuses stubs
// whose layout it cannot rebuild safely. Package holds pointers into itself, hence unique_ptr.
Outcome<std::unique_ptr<Package>> PlanUpdate(PeImage stub, std::vector<Payload> payloads);

// Writes the planned update to out (a seekable stream positioned at its start) and fills in the
// checksum. A payload file that does not hold the size it was planned with is an error.
Outcome<Done> WriteUpdate(const Package& package, std::ostream& out);

}  // namespace packer
