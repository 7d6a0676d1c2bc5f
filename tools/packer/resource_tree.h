// The resource tree of an image (type, name, language, data) and its serialised form: the
// directory tables, data entries, name strings and data that make up a resource section.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "tools/packer/outcome.h"
#include "tools/packer/pe_image.h"

namespace packer {

// A type or name: a string, or a 16-bit id.
struct ResourceName {
  bool named = false;
  std::u16string name;
  std::uint16_t id = 0;

  static ResourceName Id(std::uint16_t id) { return {false, {}, id}; }
  static ResourceName Text(std::u16string_view text) { return {true, std::u16string(text), 0}; }
  std::string Describe() const;
};

// The order Windows looks entries up in (binary search): named entries first, by their text
// compared case-insensitively code unit by code unit (a prefix first), then ids ascending.
struct WindowsOrder {
  bool operator()(const ResourceName& a, const ResourceName& b) const;
};

// Contents read from a file at packaging time, streamed into the output.
struct FileContent {
  std::filesystem::path file;
  std::uint64_t size = 0;
};

struct ResourceData {
  std::variant<std::vector<std::uint8_t>, FileContent> content;
  std::uint32_t codePage = 0;
  // Placed at a page boundary of the image (and of the file when the file alignment is a page),
  // after the other data, so the loader can map it straight from the file.
  bool pageAligned = false;

  std::uint64_t Size() const;
};

using ResourceLanguages = std::map<std::uint16_t, ResourceData>;
using ResourceNames = std::map<ResourceName, ResourceLanguages, WindowsOrder>;
using ResourceTree = std::map<ResourceName, ResourceNames, WindowsOrder>;

// The tree of the image's resource directory, each item's data copied out of the image. An image
// without resources gives an empty tree.
Outcome<ResourceTree> ReadResources(const PeImage& image);

inline constexpr std::uint32_t kPageSize = 0x1000;

struct ResourceLayout {
  // The section from its start: directories, data entries, strings and the data held in memory,
  // in that order. Its data entries already carry the image addresses of all data.
  std::vector<std::uint8_t> head;
  // Data that is page aligned, at offsets from the section's start, in ascending order.
  struct Placed {
    std::uint64_t offset = 0;
    const ResourceData* data = nullptr;
  };
  std::vector<Placed> placed;
  std::uint64_t size = 0;  // the end of the last data, from the section's start
};

// Serialises the tree for a section at sectionRva. Data held in memory goes into head (each item
// eight-byte aligned), page-aligned data after it at page boundaries. Pointers in the result refer
// into tree, which must outlive it.
Outcome<ResourceLayout> LayOutResources(const ResourceTree& tree, std::uint32_t sectionRva);

}  // namespace packer
