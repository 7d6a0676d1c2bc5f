// Small compound files and summary information streams built in memory for the packer's tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "tools/packer/compound_file.h"

namespace packer::testing {

inline ClassId ClassFromFirstWord(uint32_t first) {
  // {XXXXXXXX-0000-0000-C000-000000000046}, the form of the installer's classes.
  return {static_cast<uint8_t>(first),
          static_cast<uint8_t>(first >> 8),
          static_cast<uint8_t>(first >> 16),
          static_cast<uint8_t>(first >> 24),
          0,
          0,
          0,
          0,
          0xC0,
          0,
          0,
          0,
          0,
          0,
          0,
          0x46};
}
inline const ClassId kPatchClass = ClassFromFirstWord(0x000C1086);
inline const ClassId kDatabaseClass = ClassFromFirstWord(0x000C1084);
inline const ClassId kTransformClass = ClassFromFirstWord(0x000C1082);

inline void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) b.push_back(static_cast<uint8_t>(v >> shift));
}

// A property value: a number is written as VT_I2 for property 1 and VT_I4 otherwise, a text as
// VT_LPSTR.
using Value = std::variant<int32_t, std::string>;

// A summary information property set with one section, laid out as the installer writes it.
inline std::vector<uint8_t> SummaryStream(const std::map<uint32_t, Value>& properties) {
  std::vector<uint8_t> body;
  std::vector<uint8_t> table;
  const uint32_t tableEnd = 8 + 8 * static_cast<uint32_t>(properties.size());
  for (const auto& [id, value] : properties) {
    Put32(table, id);
    Put32(table, tableEnd + static_cast<uint32_t>(body.size()));
    if (const auto* text = std::get_if<std::string>(&value)) {
      Put32(body, 30);
      Put32(body, static_cast<uint32_t>(text->size() + 1));
      body.insert(body.end(), text->begin(), text->end());
      body.push_back(0);
      while (body.size() % 4) body.push_back(0);
    } else {
      Put32(body, id == 1 ? 2 : 3);
      Put32(body, static_cast<uint32_t>(std::get<int32_t>(value)) & (id == 1 ? 0xFFFF : ~0u));
    }
  }
  std::vector<uint8_t> out = {0xFE, 0xFF, 0, 0, 6, 2, 2, 0};
  out.resize(24, 0);
  Put32(out, 1);
  const uint8_t summaryFormat[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                     0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
  out.insert(out.end(), summaryFormat, summaryFormat + 16);
  Put32(out, 48);
  Put32(out, tableEnd + static_cast<uint32_t>(body.size()));
  Put32(out, static_cast<uint32_t>(properties.size()));
  out.insert(out.end(), table.begin(), table.end());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

inline std::map<uint32_t, Value> GoodSummary() {
  return {{1, 1252},
          {2, std::string("Patch")},
          {5, std::string("2.1.30.0;2.0.10.0,2.1.0.0")},
          {7, std::string("{8A2F6C1E-3B4D-4E5F-9A0B-1C2D3E4F5A6B};"
                          "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}")},
          {8, std::string(":T1")},
          {9, std::string("{11111111-2222-3333-4444-555555555555}")}};
}

inline DirectoryEntry Entry(std::u16string name, DirectoryEntry::Type type,
                            uint32_t left = kNoEntry, uint32_t right = kNoEntry,
                            uint32_t child = kNoEntry) {
  DirectoryEntry e;
  e.name = std::move(name);
  e.type = type;
  e.left = left;
  e.right = right;
  e.child = child;
  return e;
}

inline std::vector<uint8_t> Bytes(size_t size, uint8_t seed) {
  std::vector<uint8_t> out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return out;
}

// A patch-shaped file: the root (of class rootClass) holds the summary stream, a string pool
// stream, a large stream and a transform storage "T1" with one stream; entry 6 is unused.
struct PatchShape {
  std::vector<DirectoryEntry> entries;
  std::map<uint32_t, std::vector<uint8_t>> contents;
};

inline PatchShape MakePatchShape(const std::vector<uint8_t>& summary,
                                 ClassId rootClass = kPatchClass, size_t largeSize = 10000) {
  using T = DirectoryEntry::Type;
  PatchShape shape;
  // The children of the root as a tree on name length, then upper-case name:
  // "T1" < "Large" < "_StringPool" < "\005SummaryInformation".
  shape.entries = {
      Entry(u"Root Entry", T::kRoot, kNoEntry, kNoEntry, 2),
      Entry(u"T1", T::kStorage, kNoEntry, kNoEntry, 5),
      Entry(u"Large", T::kStream, 1, 3),
      Entry(u"_StringPool", T::kStream, kNoEntry, 4),
      Entry(u"\005SummaryInformation", T::kStream),
      Entry(u"Property", T::kStream),
      Entry(u"", T::kUnused),
  };
  shape.entries[0].classId = rootClass;
  shape.entries[1].classId = kTransformClass;
  shape.entries[1].stateBits = 0x12345678;
  shape.entries[1].created = {1, 2, 3, 4, 5, 6, 7, 8};
  shape.entries[1].modified = {9, 10, 11, 12, 13, 14, 15, 16};
  shape.entries[2].color = 0;
  shape.contents[2] = Bytes(largeSize, 3);
  shape.contents[3] = {0, 0, 0, 0};
  shape.contents[4] = summary;
  shape.contents[5] = Bytes(200, 9);
  return shape;
}

inline std::vector<uint8_t> MakePatch(const std::vector<uint8_t>& summary,
                                      ClassId rootClass = kPatchClass, size_t largeSize = 10000,
                                      uint16_t majorVersion = 3) {
  PatchShape shape = MakePatchShape(summary, rootClass, largeSize);
  return CompoundFile::FromEntries(shape.entries, shape.contents, majorVersion).Write();
}

}  // namespace packer::testing
