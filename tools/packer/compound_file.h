// Reading and rewriting OLE compound files (structured storage, versions 3 and 4), the container
// of Windows Installer packages. Portable: the bytes are parsed here, no platform call is made.
//
// The reader treats its input as hostile: every sector index, chain, directory link and size is
// checked before use, so a damaged or crafted file gives a refusal with a reason, never a crash,
// a read out of bounds or an endless walk. The work is linear in the size of the file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace packer {

inline constexpr uint32_t kNoEntry = 0xFFFFFFFF;

using ClassId = std::array<uint8_t, 16>;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as the registry writes class ids.
std::string ClassIdText(const ClassId& id);

// One entry of the directory, as stored. The tree links (left, right, child) are indices into the
// directory; kNoEntry where there is none.
struct DirectoryEntry {
  enum class Type : uint8_t { kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5 };

  std::u16string name;
  Type type = Type::kUnused;
  uint8_t color = 1;  // 0 red, 1 black
  uint32_t left = kNoEntry;
  uint32_t right = kNoEntry;
  uint32_t child = kNoEntry;
  ClassId classId{};
  uint32_t stateBits = 0;
  std::array<uint8_t, 8> created{};
  std::array<uint8_t, 8> modified{};
  uint32_t startSector = 0;
  uint64_t size = 0;
};

class CompoundFile {
 public:
  // Parses the file's header, allocation tables and directory, and checks the chain of every
  // stream reachable from the root. The bytes must outlive the object: stream contents are read
  // from them on demand. On failure gives nothing and sets error to the reason.
  static std::optional<CompoundFile> Read(std::span<const uint8_t> bytes, std::string& error);

  // A file made in memory (for Write) from a directory whose entry 0 is the root and the contents
  // of its streams by entry index; a stream without contents is empty. Entries the tree does not
  // reach, or reaches twice, are left out.
  static CompoundFile FromEntries(std::vector<DirectoryEntry> entries,
                                  std::map<uint32_t, std::vector<uint8_t>> contents,
                                  uint16_t majorVersion = 3);

  uint16_t majorVersion() const { return majorVersion_; }
  const std::vector<DirectoryEntry>& entries() const { return entries_; }
  const DirectoryEntry& root() const { return entries_[0]; }

  // The entry named name (compared exactly) among the children of the storage at index storage.
  std::optional<uint32_t> FindChild(uint32_t storage, std::u16string_view name) const;

  // Every entry reachable from the root, in the order of a walk of the tree.
  const std::vector<uint32_t>& reachable() const { return reachable_; }

  // The contents of the stream at index stream: the replacement given to ReplaceStream, else the
  // bytes stored in the file.
  std::vector<uint8_t> StreamBytes(uint32_t stream) const;

  // Gives the stream at index stream new contents for StreamBytes and Write.
  void ReplaceStream(uint32_t stream, std::vector<uint8_t> contents);

  // The whole file written anew in the version it was read in: the same directory (names, tree
  // links and colours, class ids, state bits, times) with every reachable stream's contents, a
  // new allocation. Streams under 4096 bytes go to the mini stream. Entries the tree does not
  // reach are written as unused.
  std::vector<uint8_t> Write() const;

 private:
  std::vector<uint8_t> ReadChain(uint32_t start, uint64_t size, bool mini) const;

  std::span<const uint8_t> bytes_;
  uint16_t majorVersion_ = 3;
  uint32_t sectorSize_ = 512;
  uint32_t miniCutoff_ = 4096;
  std::vector<uint32_t> fat_;
  std::vector<uint32_t> miniFat_;
  std::vector<uint8_t> miniStream_;
  std::vector<DirectoryEntry> entries_;
  std::vector<uint32_t> reachable_;
  std::vector<uint32_t> parent_;  // the storage holding each reachable entry
  std::map<uint32_t, std::vector<uint8_t>> replaced_;
};

}  // namespace packer
