#include "tools/packer/compound_file.h"

#include <algorithm>
#include <cstdio>
#include <functional>

namespace packer {
namespace {

constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr uint32_t kDifatSector = 0xFFFFFFFC;
constexpr uint32_t kFatSector = 0xFFFFFFFD;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kMiniSectorSize = 64;
constexpr uint32_t kHeaderDifatEntries = 109;
constexpr uint32_t kEntrySize = 128;
constexpr uint32_t kWrittenMiniCutoff = 4096;

uint16_t Get16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t Get32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(Get16(b, at)) | (static_cast<uint32_t>(Get16(b, at + 2)) << 16);
}
uint64_t Get64(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint64_t>(Get32(b, at)) | (static_cast<uint64_t>(Get32(b, at + 4)) << 32);
}
void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
  Put32(b, at, static_cast<uint32_t>(v));
  Put32(b, at + 4, static_cast<uint32_t>(v >> 32));
}

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

std::string Number(uint64_t n) { return std::to_string(n); }

// Printable form of an entry name for messages: control characters as \NNN.
std::string NameText(const std::u16string& name) {
  std::string out;
  for (char16_t c : name) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char code[12];
      std::snprintf(code, sizeof code, c < 0x100 ? "\\%03o" : "\\u%04X", static_cast<unsigned>(c));
      out += code;
    }
  }
  return "\"" + out + "\"";
}

// Appends want bytes of the sector; a last sector cut short by the end of the file reads as
// zero-padded. The sector must lie in the file.
void AppendSector(std::span<const uint8_t> bytes, uint32_t sectorSize, uint32_t sector,
                  std::vector<uint8_t>& out, size_t want) {
  const uint64_t offset = (static_cast<uint64_t>(sector) + 1) * sectorSize;
  const size_t available =
      static_cast<size_t>(std::min<uint64_t>(bytes.size() - offset, sectorSize));
  const size_t take = std::min(available, want);
  out.insert(out.end(), bytes.begin() + static_cast<ptrdiff_t>(offset),
             bytes.begin() + static_cast<ptrdiff_t>(offset + take));
  out.resize(out.size() + (want - take), 0);
}

// The parsing state: the file's sectors and which of them a chain has claimed already. A sector
// claimed twice means a loop or two chains crossing; either way the file is refused, which also
// bounds every walk by the number of sectors.
class SectorReader {
 public:
  SectorReader(std::span<const uint8_t> bytes, uint32_t sectorSize)
      : bytes_(bytes), sectorSize_(sectorSize) {
    const uint64_t body = bytes.size() > sectorSize ? bytes.size() - sectorSize : 0;
    count_ = CeilDiv(body, sectorSize);
    claimed_.assign(static_cast<size_t>(std::min<uint64_t>(count_, kMaxRegularSector)), 0);
  }

  uint64_t count() const { return count_; }

  void Append(uint32_t sector, std::vector<uint8_t>& out, size_t want) const {
    AppendSector(bytes_, sectorSize_, sector, out, want);
  }

  bool Claim(uint32_t sector, const std::string& what, std::string& error) {
    if (sector >= count_) {
      error = what + " refers to sector " + Number(sector) + ", past the end of the file (" +
              Number(count_) + " sectors)";
      return false;
    }
    if (claimed_[sector]) {
      error = what + " uses sector " + Number(sector) +
              " a second time (its chain loops or crosses another)";
      return false;
    }
    claimed_[sector] = 1;
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
  uint32_t sectorSize_;
  uint64_t count_ = 0;
  std::vector<uint8_t> claimed_;
};

// Follows a chain through table from start. With a count, exactly that many sectors are taken
// (the rest of the chain, if any, is not looked at); without one, up to the end-of-chain mark.
bool WalkChain(const std::vector<uint32_t>& table, uint32_t start, std::optional<uint64_t> count,
               const std::string& what, const std::function<bool(uint32_t)>& claim,
               std::vector<uint32_t>& sectors, std::string& error) {
  uint32_t sector = start;
  while (count ? sectors.size() < *count : sector != kEndOfChain) {
    if (sector >= table.size()) {
      if (sector == kEndOfChain) {
        error = what + " ends after " + Number(sectors.size()) + " sectors, short of its size";
      } else if (sector > kMaxRegularSector) {
        error = what + " holds the special sector mark " + Number(sector) + " inside its chain";
      } else {
        error = what + " refers to sector " + Number(sector) + ", beyond its allocation table (" +
                Number(table.size()) + " entries)";
      }
      return false;
    }
    if (!claim(sector)) return false;
    sectors.push_back(sector);
    sector = table[sector];
  }
  return true;
}

// The fields of the header the reader uses.
struct Header {
  uint16_t majorVersion = 3;
  uint32_t sectorSize = 512;
  uint32_t miniCutoff = 4096;
  uint32_t fatSectors = 0;
  uint32_t firstDirectory = kEndOfChain;
  uint32_t firstMiniFat = kEndOfChain;
  uint32_t firstDifat = kEndOfChain;
  uint32_t difatSectors = 0;
};

// One directory entry as stored in its 128 bytes. A name whose length field is impossible makes
// the entry unused.
DirectoryEntry ParseEntry(std::span<const uint8_t> e, uint16_t majorVersion) {
  DirectoryEntry entry;
  const uint16_t nameBytes = Get16(e, 64);
  const bool nameFits = nameBytes <= 64 && nameBytes % 2 == 0;
  if (nameFits) {
    for (size_t i = 0; i + 2 < nameBytes; i += 2) entry.name += static_cast<char16_t>(Get16(e, i));
  }
  entry.type = nameFits ? static_cast<DirectoryEntry::Type>(e[66]) : DirectoryEntry::Type::kUnused;
  entry.color = e[67];
  entry.left = Get32(e, 68);
  entry.right = Get32(e, 72);
  entry.child = Get32(e, 76);
  std::copy(e.begin() + 80, e.begin() + 96, entry.classId.begin());
  entry.stateBits = Get32(e, 96);
  std::copy(e.begin() + 100, e.begin() + 108, entry.created.begin());
  std::copy(e.begin() + 108, e.begin() + 116, entry.modified.begin());
  entry.startSector = Get32(e, 116);
  entry.size = majorVersion == 3 ? Get32(e, 120) : Get64(e, 120);
  return entry;
}

// Reads a file that begins with the signature, part by part in the order each depends on the
// last: header, allocation table, directory, mini stream, tree. Each step gives false with the
// reason in error.
class FileParser {
 public:
  FileParser(std::span<const uint8_t> bytes, std::string& error) : bytes_(bytes), error_(error) {}

  bool Parse() {
    if (!ReadHeader()) return false;
    SectorReader reader(bytes_, header.sectorSize);
    reader_ = &reader;
    const bool parsed = ReadAllocationTable() && ReadDirectory() && ReadMiniStream() && WalkTree();
    reader_ = nullptr;
    return parsed;
  }

  Header header;
  std::vector<uint32_t> fat;
  std::vector<uint32_t> miniFat;
  std::vector<uint8_t> miniStream;
  std::vector<DirectoryEntry> entries;
  std::vector<uint32_t> reachable;
  std::vector<uint32_t> parent;

 private:
  bool Fail(const std::string& reason) {
    error_ = reason;
    return false;
  }

  std::function<bool(uint32_t)> Claim(const std::string& what) {
    return [this, what](uint32_t sector) { return reader_->Claim(sector, what, error_); };
  }

  bool ReadHeader() {
    header.majorVersion = Get16(bytes_, 26);
    const uint16_t sectorShift = Get16(bytes_, 30);
    if (Get16(bytes_, 28) != 0xFFFE) return Fail("the byte order mark is not 0xFFFE");
    if (!(header.majorVersion == 3 && sectorShift == 9) &&
        !(header.majorVersion == 4 && sectorShift == 12)) {
      return Fail("unknown version " + Number(header.majorVersion) + " with sectors of 2^" +
                  Number(sectorShift) + " bytes");
    }
    if (Get16(bytes_, 32) != 6) return Fail("mini sectors are not 64 bytes");
    header.sectorSize = 1u << sectorShift;
    if (bytes_.size() < header.sectorSize) return Fail("the header is cut short");
    header.miniCutoff = Get32(bytes_, 56);
    header.fatSectors = Get32(bytes_, 44);
    header.firstDirectory = Get32(bytes_, 48);
    header.firstMiniFat = Get32(bytes_, 60);
    header.firstDifat = Get32(bytes_, 68);
    header.difatSectors = Get32(bytes_, 72);
    return true;
  }

  // The allocation table's own sectors: the first 109 listed in the header, the rest in the chain
  // of DIFAT sectors.
  bool ListAllocationSectors(std::vector<uint32_t>& fatList) {
    const uint32_t perSector = header.sectorSize / 4;
    for (uint32_t i = 0; i < std::min(header.fatSectors, kHeaderDifatEntries); ++i) {
      fatList.push_back(Get32(bytes_, 76 + 4 * i));
    }
    uint32_t nextDifat = header.firstDifat;
    for (uint32_t i = 0; fatList.size() < header.fatSectors; ++i) {
      if (i >= header.difatSectors || nextDifat == kEndOfChain) {
        return Fail("the DIFAT chain ends before listing all " + Number(header.fatSectors) +
                    " allocation table sectors");
      }
      if (!reader_->Claim(nextDifat, "the DIFAT chain", error_)) return false;
      std::vector<uint8_t> sector;
      reader_->Append(nextDifat, sector, header.sectorSize);
      for (uint32_t k = 0; k + 1 < perSector && fatList.size() < header.fatSectors; ++k) {
        fatList.push_back(Get32(sector, 4 * k));
      }
      nextDifat = Get32(sector, 4 * (perSector - 1));
    }
    return true;
  }

  // Appends every entry of the table sectors to table.
  void AppendTable(const std::vector<uint32_t>& sectors, std::vector<uint32_t>& table) const {
    for (uint32_t sector : sectors) {
      std::vector<uint8_t> bytesOfSector;
      reader_->Append(sector, bytesOfSector, header.sectorSize);
      for (uint32_t k = 0; k < header.sectorSize / 4; ++k) {
        table.push_back(Get32(bytesOfSector, 4 * k));
      }
    }
  }

  bool ReadAllocationTable() {
    if (reader_->count() >= kMaxRegularSector) return Fail("the file is too large");
    if (header.fatSectors > reader_->count()) {
      return Fail("the header names " + Number(header.fatSectors) +
                  " allocation table sectors, the file holds only " + Number(reader_->count()) +
                  " sectors");
    }
    std::vector<uint32_t> fatList;
    if (!ListAllocationSectors(fatList)) return false;
    for (uint32_t sector : fatList) {
      if (!reader_->Claim(sector, "the allocation table", error_)) return false;
    }
    AppendTable(fatList, fat);
    return true;
  }

  bool ReadDirectory() {
    std::vector<uint32_t> sectors;
    if (!WalkChain(fat, header.firstDirectory, std::nullopt, "the directory",
                   Claim("the directory"), sectors, error_)) {
      return false;
    }
    if (sectors.empty()) return Fail("there is no directory");
    std::vector<uint8_t> directory;
    for (uint32_t sector : sectors) reader_->Append(sector, directory, header.sectorSize);
    for (size_t at = 0; at + kEntrySize <= directory.size(); at += kEntrySize) {
      entries.push_back(ParseEntry({directory.data() + at, kEntrySize}, header.majorVersion));
    }
    if (entries.empty() || entries[0].type != DirectoryEntry::Type::kRoot) {
      return Fail("the directory does not begin with a root entry");
    }
    return true;
  }

  // The mini stream (the root entry's stream) and its allocation table.
  bool ReadMiniStream() {
    const DirectoryEntry& root = entries[0];
    if (root.size > bytes_.size()) return Fail("the mini stream is larger than the file");
    std::vector<uint32_t> streamSectors;
    if (!WalkChain(fat, root.startSector, CeilDiv(root.size, header.sectorSize), "the mini stream",
                   Claim("the mini stream"), streamSectors, error_)) {
      return false;
    }
    for (uint32_t sector : streamSectors) reader_->Append(sector, miniStream, header.sectorSize);
    miniSectorCount_ = CeilDiv(root.size, kMiniSectorSize);
    miniStream.resize(static_cast<size_t>(miniSectorCount_ * kMiniSectorSize), 0);
    std::vector<uint32_t> tableSectors;
    if (!WalkChain(fat, header.firstMiniFat, std::nullopt, "the mini allocation table",
                   Claim("the mini allocation table"), tableSectors, error_)) {
      return false;
    }
    AppendTable(tableSectors, miniFat);
    miniClaimed_.assign(static_cast<size_t>(miniSectorCount_), 0);
    return true;
  }

  bool ClaimMini(uint32_t sector, const std::string& what) {
    if (sector >= miniSectorCount_) {
      return Fail(what + " refers to mini sector " + Number(sector) +
                  ", past the end of the mini stream");
    }
    if (miniClaimed_[sector]) {
      return Fail(what + " uses mini sector " + Number(sector) +
                  " a second time (its chain loops or crosses another)");
    }
    miniClaimed_[sector] = 1;
    return true;
  }

  // The chain of a stream, in the mini stream or in the file by its size.
  bool CheckStreamChain(const DirectoryEntry& entry) {
    const std::string what = "stream " + NameText(entry.name);
    if (entry.size > bytes_.size()) return Fail(what + " is larger than the file");
    std::vector<uint32_t> sectors;
    if (entry.size < header.miniCutoff) {
      return WalkChain(
          miniFat, entry.startSector, CeilDiv(entry.size, kMiniSectorSize), what,
          [this, &what](uint32_t sector) { return ClaimMini(sector, what); }, sectors, error_);
    }
    return WalkChain(fat, entry.startSector, CeilDiv(entry.size, header.sectorSize), what,
                     Claim(what), sectors, error_);
  }

  // The tree of storages and streams from the root, and the chain of every stream in it.
  bool WalkTree() {
    std::vector<uint8_t> visited(entries.size(), 0);
    visited[0] = 1;
    parent.assign(entries.size(), kNoEntry);
    std::vector<std::pair<uint32_t, uint32_t>> pending;  // entry, its storage
    if (entries[0].child != kNoEntry) pending.emplace_back(entries[0].child, 0);
    while (!pending.empty()) {
      const auto [index, storage] = pending.back();
      pending.pop_back();
      if (index >= entries.size()) {
        return Fail("a directory link refers to entry " + Number(index) + " of " +
                    Number(entries.size()));
      }
      if (visited[index])
        return Fail("the directory tree reaches entry " + Number(index) + " twice");
      visited[index] = 1;
      const DirectoryEntry& entry = entries[index];
      if (entry.type == DirectoryEntry::Type::kStream) {
        if (!CheckStreamChain(entry)) return false;
      } else if (entry.type == DirectoryEntry::Type::kStorage) {
        if (entry.child != kNoEntry) pending.emplace_back(entry.child, index);
      } else {
        return Fail("directory entry " + Number(index) + " is neither a storage nor a stream");
      }
      parent[index] = storage;
      reachable.push_back(index);
      if (entry.left != kNoEntry) pending.emplace_back(entry.left, storage);
      if (entry.right != kNoEntry) pending.emplace_back(entry.right, storage);
    }
    return true;
  }

  std::span<const uint8_t> bytes_;
  std::string& error_;
  SectorReader* reader_ = nullptr;
  uint64_t miniSectorCount_ = 0;
  std::vector<uint8_t> miniClaimed_;
};

// Where Write puts everything: streams under the cutoff one after another in the mini stream,
// then the sectors in this order: allocation table, DIFAT, directory, mini allocation table, mini
// stream, the other streams.
class WrittenLayout {
 public:
  WrittenLayout(uint32_t bytesPerSector, const std::vector<std::vector<uint8_t>>& contents,
                const std::vector<uint32_t>& reachable)
      : sectorSize(bytesPerSector),
        perSector(bytesPerSector / 4),
        start(contents.size(), kEndOfChain) {
    LayOutMiniStream(contents, reachable);
    CountSectors(contents, reachable);
    AllocateSectors(contents, reachable);
  }

  // The offset of a sector in the file.
  size_t At(uint64_t sector) const { return static_cast<size_t>((sector + 1) * sectorSize); }

  uint32_t sectorSize;
  uint64_t perSector;
  std::vector<uint32_t> start;  // each stream's first sector, or mini sector under the cutoff
  std::vector<uint32_t> miniFat;
  std::vector<uint32_t> fat;
  uint64_t miniStreamSize = 0;
  uint64_t directorySectors = 0;
  uint64_t miniFatSectors = 0;
  uint64_t miniStreamSectors = 0;
  uint64_t fatSectors = 0;
  uint64_t difatSectors = 0;
  uint64_t totalSectors = 0;
  uint32_t firstFat = kEndOfChain;
  uint32_t firstDifat = kEndOfChain;
  uint32_t firstDirectory = kEndOfChain;
  uint32_t firstMiniFat = kEndOfChain;
  uint32_t firstMiniStream = kEndOfChain;

 private:
  void LayOutMiniStream(const std::vector<std::vector<uint8_t>>& contents,
                        const std::vector<uint32_t>& reachable) {
    for (uint32_t index : reachable) {
      const size_t size = contents[index].size();
      if (size == 0 || size >= kWrittenMiniCutoff) continue;
      const uint32_t first = static_cast<uint32_t>(miniFat.size());
      const uint32_t count = static_cast<uint32_t>(CeilDiv(size, kMiniSectorSize));
      start[index] = first;
      for (uint32_t i = 0; i < count; ++i) {
        miniFat.push_back(i + 1 < count ? first + i + 1 : kEndOfChain);
      }
    }
    miniStreamSize = miniFat.size() * uint64_t{kMiniSectorSize};
  }

  void CountSectors(const std::vector<std::vector<uint8_t>>& contents,
                    const std::vector<uint32_t>& reachable) {
    directorySectors = CeilDiv(contents.size() * uint64_t{kEntrySize}, sectorSize);
    miniFatSectors = CeilDiv(miniFat.size() * uint64_t{4}, sectorSize);
    miniStreamSectors = CeilDiv(miniStreamSize, sectorSize);
    uint64_t dataSectors = directorySectors + miniFatSectors + miniStreamSectors;
    for (uint32_t index : reachable) {
      if (contents[index].size() >= kWrittenMiniCutoff) {
        dataSectors += CeilDiv(contents[index].size(), sectorSize);
      }
    }
    // The allocation table covers every sector including its own and the DIFAT's.
    while (true) {
      const uint64_t fatCount = CeilDiv(dataSectors + fatSectors + difatSectors, perSector);
      const uint64_t difatCount = fatCount > kHeaderDifatEntries
                                      ? CeilDiv(fatCount - kHeaderDifatEntries, perSector - 1)
                                      : 0;
      if (fatCount == fatSectors && difatCount == difatSectors) break;
      fatSectors = fatCount;
      difatSectors = difatCount;
    }
    totalSectors = fatSectors + difatSectors + dataSectors;
  }

  // The next count sectors, marked in the allocation table with mark, or chained when it is 0.
  uint32_t Allocate(uint64_t count, uint32_t mark) {
    const uint32_t first = next_;
    for (uint64_t i = 0; i < count; ++i, ++next_) {
      fat[next_] = mark != 0 ? mark : (i + 1 < count ? next_ + 1 : kEndOfChain);
    }
    return count == 0 ? kEndOfChain : first;
  }

  void AllocateSectors(const std::vector<std::vector<uint8_t>>& contents,
                       const std::vector<uint32_t>& reachable) {
    fat.assign(static_cast<size_t>(fatSectors * perSector), kFreeSector);
    firstFat = Allocate(fatSectors, kFatSector);
    firstDifat = Allocate(difatSectors, kDifatSector);
    firstDirectory = Allocate(directorySectors, 0);
    firstMiniFat = Allocate(miniFatSectors, 0);
    firstMiniStream = Allocate(miniStreamSectors, 0);
    for (uint32_t index : reachable) {
      if (contents[index].size() >= kWrittenMiniCutoff) {
        start[index] = Allocate(CeilDiv(contents[index].size(), sectorSize), 0);
      }
    }
  }

  uint32_t next_ = 0;
};

void WriteHeader(const WrittenLayout& layout, uint16_t majorVersion, std::vector<uint8_t>& out) {
  std::copy(std::begin(kSignature), std::end(kSignature), out.begin());
  Put16(out, 24, 0x003E);
  Put16(out, 26, majorVersion);
  Put16(out, 28, 0xFFFE);
  Put16(out, 30, majorVersion == 4 ? 12 : 9);
  Put16(out, 32, 6);
  Put32(out, 40, majorVersion == 4 ? static_cast<uint32_t>(layout.directorySectors) : 0);
  Put32(out, 44, static_cast<uint32_t>(layout.fatSectors));
  Put32(out, 48, layout.firstDirectory);
  Put32(out, 56, kWrittenMiniCutoff);
  Put32(out, 60, layout.firstMiniFat);
  Put32(out, 64, static_cast<uint32_t>(layout.miniFatSectors));
  Put32(out, 68, layout.firstDifat);
  Put32(out, 72, static_cast<uint32_t>(layout.difatSectors));
  for (uint32_t i = 0; i < kHeaderDifatEntries; ++i) {
    Put32(out, 76 + 4 * i, i < layout.fatSectors ? layout.firstFat + i : kFreeSector);
  }
}

// The DIFAT sectors (the allocation table sectors past the first 109, then the next DIFAT
// sector) and the allocation table.
void WriteAllocationTable(const WrittenLayout& layout, std::vector<uint8_t>& out) {
  const uint64_t perSector = layout.perSector;
  for (uint64_t d = 0; d < layout.difatSectors; ++d) {
    const size_t base = layout.At(layout.firstDifat + d);
    for (uint64_t k = 0; k + 1 < perSector; ++k) {
      const uint64_t listed = kHeaderDifatEntries + d * (perSector - 1) + k;
      Put32(out, base + static_cast<size_t>(4 * k),
            listed < layout.fatSectors ? layout.firstFat + static_cast<uint32_t>(listed)
                                       : kFreeSector);
    }
    Put32(out, base + static_cast<size_t>(4 * (perSector - 1)),
          d + 1 < layout.difatSectors ? layout.firstDifat + static_cast<uint32_t>(d + 1)
                                      : kEndOfChain);
  }
  for (size_t i = 0; i < layout.fat.size(); ++i) {
    Put32(out, layout.At(layout.firstFat) + 4 * i, layout.fat[i]);
  }
}

// An entry the tree does not reach, or the directory's padding.
void WriteUnusedEntry(size_t base, std::vector<uint8_t>& out) {
  Put32(out, base + 68, kNoEntry);
  Put32(out, base + 72, kNoEntry);
  Put32(out, base + 76, kNoEntry);
}

// A reachable entry: as read, with its stream's new start and size (the root's: the mini stream).
void WriteEntry(const DirectoryEntry& e, const WrittenLayout& layout, uint32_t start, uint64_t size,
                size_t base, std::vector<uint8_t>& out) {
  const size_t nameLength = std::min<size_t>(e.name.size(), 31);
  for (size_t c = 0; c < nameLength; ++c) Put16(out, base + 2 * c, e.name[c]);
  Put16(out, base + 64, static_cast<uint32_t>((nameLength + 1) * 2));
  out[base + 66] = static_cast<uint8_t>(e.type);
  out[base + 67] = e.color;
  Put32(out, base + 68, e.left);
  Put32(out, base + 72, e.right);
  Put32(out, base + 76, e.child);
  std::copy(e.classId.begin(), e.classId.end(), out.begin() + static_cast<ptrdiff_t>(base + 80));
  Put32(out, base + 96, e.stateBits);
  std::copy(e.created.begin(), e.created.end(), out.begin() + static_cast<ptrdiff_t>(base + 100));
  std::copy(e.modified.begin(), e.modified.end(), out.begin() + static_cast<ptrdiff_t>(base + 108));
  if (e.type == DirectoryEntry::Type::kRoot) {
    Put32(out, base + 116, layout.firstMiniStream);
    Put64(out, base + 120, layout.miniStreamSize);
  } else if (e.type == DirectoryEntry::Type::kStream) {
    Put32(out, base + 116, start);
    Put64(out, base + 120, size);
  }
}

// The mini allocation table, and every stream's contents in the mini stream or in its sectors.
void WriteStreams(const WrittenLayout& layout, const std::vector<std::vector<uint8_t>>& contents,
                  const std::vector<uint32_t>& reachable, std::vector<uint8_t>& out) {
  for (size_t i = 0; i < layout.miniFat.size(); ++i) {
    Put32(out, layout.At(layout.firstMiniFat) + 4 * i, layout.miniFat[i]);
  }
  for (uint32_t index : reachable) {
    const std::vector<uint8_t>& data = contents[index];
    if (data.empty()) continue;
    const size_t base =
        data.size() < kWrittenMiniCutoff
            ? layout.At(layout.firstMiniStream) + size_t{layout.start[index]} * kMiniSectorSize
            : layout.At(layout.start[index]);
    std::copy(data.begin(), data.end(), out.begin() + static_cast<ptrdiff_t>(base));
  }
}
}  // namespace

std::string ClassIdText(const ClassId& id) {
  char text[40];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id[3],
                id[2], id[1], id[0], id[5], id[4], id[7], id[6], id[8], id[9], id[10], id[11],
                id[12], id[13], id[14], id[15]);
  return text;
}

std::optional<CompoundFile> CompoundFile::Read(std::span<const uint8_t> bytes, std::string& error) {
  if (bytes.size() < 512 ||
      !std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin())) {
    error = "not a compound file (it does not begin with the compound file signature)";
    return std::nullopt;
  }
  FileParser parser(bytes, error);
  if (!parser.Parse()) {
    error = "damaged compound file: " + error;
    return std::nullopt;
  }
  CompoundFile file;
  file.bytes_ = bytes;
  file.majorVersion_ = parser.header.majorVersion;
  file.sectorSize_ = parser.header.sectorSize;
  file.miniCutoff_ = parser.header.miniCutoff;
  file.fat_ = std::move(parser.fat);
  file.miniFat_ = std::move(parser.miniFat);
  file.miniStream_ = std::move(parser.miniStream);
  file.entries_ = std::move(parser.entries);
  file.reachable_ = std::move(parser.reachable);
  file.parent_ = std::move(parser.parent);
  return file;
}

CompoundFile CompoundFile::FromEntries(std::vector<DirectoryEntry> entries,
                                       std::map<uint32_t, std::vector<uint8_t>> contents,
                                       uint16_t majorVersion) {
  CompoundFile file;
  file.majorVersion_ = majorVersion == 4 ? 4 : 3;
  file.sectorSize_ = majorVersion == 4 ? 4096 : 512;
  file.entries_ = std::move(entries);
  file.parent_.assign(file.entries_.size(), kNoEntry);
  std::vector<uint8_t> visited(file.entries_.size(), 0);
  std::vector<std::pair<uint32_t, uint32_t>> pending;
  if (!file.entries_.empty()) pending.emplace_back(file.entries_[0].child, 0);
  while (!pending.empty()) {
    const auto [index, storage] = pending.back();
    pending.pop_back();
    if (index == 0 || index >= file.entries_.size() || visited[index]) continue;
    visited[index] = 1;
    const DirectoryEntry& entry = file.entries_[index];
    file.parent_[index] = storage;
    file.reachable_.push_back(index);
    if (entry.type == DirectoryEntry::Type::kStream) file.replaced_[index] = contents[index];
    if (entry.type == DirectoryEntry::Type::kStorage) pending.emplace_back(entry.child, index);
    pending.emplace_back(entry.left, storage);
    pending.emplace_back(entry.right, storage);
  }
  return file;
}

std::optional<uint32_t> CompoundFile::FindChild(uint32_t storage, std::u16string_view name) const {
  for (uint32_t index : reachable_) {
    if (parent_[index] == storage && entries_[index].name == name) return index;
  }
  return std::nullopt;
}

std::vector<uint8_t> CompoundFile::ReadChain(uint32_t start, uint64_t size, bool mini) const {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(size));
  const std::vector<uint32_t>& table = mini ? miniFat_ : fat_;
  const uint32_t unit = mini ? kMiniSectorSize : sectorSize_;
  uint32_t sector = start;
  while (out.size() < size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(unit, size - out.size()));
    if (mini) {
      const auto from = miniStream_.begin() + static_cast<ptrdiff_t>(sector) * kMiniSectorSize;
      out.insert(out.end(), from, from + static_cast<ptrdiff_t>(want));
    } else {
      AppendSector(bytes_, sectorSize_, sector, out, want);
    }
    sector = table[sector];
  }
  return out;
}

std::vector<uint8_t> CompoundFile::StreamBytes(uint32_t stream) const {
  if (const auto it = replaced_.find(stream); it != replaced_.end()) return it->second;
  const DirectoryEntry& entry = entries_[stream];
  return ReadChain(entry.startSector, entry.size, entry.size < miniCutoff_);
}

void CompoundFile::ReplaceStream(uint32_t stream, std::vector<uint8_t> contents) {
  replaced_[stream] = std::move(contents);
}

std::vector<uint8_t> CompoundFile::Write() const {
  std::vector<std::vector<uint8_t>> contents(entries_.size());
  std::vector<uint8_t> live(entries_.size(), 0);
  live[0] = 1;
  for (uint32_t index : reachable_) {
    live[index] = 1;
    if (entries_[index].type == DirectoryEntry::Type::kStream) contents[index] = StreamBytes(index);
  }
  const WrittenLayout layout(sectorSize_, contents, reachable_);
  std::vector<uint8_t> out(static_cast<size_t>((layout.totalSectors + 1) * sectorSize_), 0);
  WriteHeader(layout, majorVersion_, out);
  WriteAllocationTable(layout, out);
  for (size_t i = 0; i < layout.directorySectors * sectorSize_ / kEntrySize; ++i) {
    const size_t base = layout.At(layout.firstDirectory) + i * kEntrySize;
    if (i < entries_.size() && live[i]) {
      WriteEntry(entries_[i], layout, layout.start[i], contents[i].size(), base, out);
    } else {
      WriteUnusedEntry(base, out);
    }
  }
  WriteStreams(layout, contents, reachable_, out);
  return out;
}

}  // namespace packer
