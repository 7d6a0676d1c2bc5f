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
  auto damaged = [&error](const std::string& reason) {
    error = "damaged compound file: " + reason;
    return std::nullopt;
  };
  CompoundFile file;
  file.bytes_ = bytes;
  file.majorVersion_ = Get16(bytes, 26);
  const uint16_t sectorShift = Get16(bytes, 30);
  if (Get16(bytes, 28) != 0xFFFE) return damaged("the byte order mark is not 0xFFFE");
  if (!(file.majorVersion_ == 3 && sectorShift == 9) &&
      !(file.majorVersion_ == 4 && sectorShift == 12)) {
    return damaged("unknown version " + Number(file.majorVersion_) + " with sectors of 2^" +
                   Number(sectorShift) + " bytes");
  }
  if (Get16(bytes, 32) != 6) return damaged("mini sectors are not 64 bytes");
  file.sectorSize_ = 1u << sectorShift;
  if (bytes.size() < file.sectorSize_) return damaged("the header is cut short");
  file.miniCutoff_ = Get32(bytes, 56);
  const uint32_t fatSectors = Get32(bytes, 44);
  const uint32_t firstDirectory = Get32(bytes, 48);
  const uint32_t firstMiniFat = Get32(bytes, 60);
  const uint32_t firstDifat = Get32(bytes, 68);
  const uint32_t difatSectors = Get32(bytes, 72);
  const uint32_t perSector = file.sectorSize_ / 4;

  SectorReader reader(bytes, file.sectorSize_);
  if (reader.count() >= kMaxRegularSector) return damaged("the file is too large");
  if (fatSectors > reader.count()) {
    return damaged("the header names " + Number(fatSectors) +
                   " allocation table sectors, the file " + "holds only " + Number(reader.count()) +
                   " sectors");
  }
  auto claim = [&](const std::string& what) {
    return [&reader, &error, what](uint32_t sector) { return reader.Claim(sector, what, error); };
  };

  // The allocation table's own sectors: the first 109 listed in the header, the rest in the chain
  // of DIFAT sectors.
  std::vector<uint32_t> fatList;
  for (uint32_t i = 0; i < std::min(fatSectors, kHeaderDifatEntries); ++i) {
    fatList.push_back(Get32(bytes, 76 + 4 * i));
  }
  uint32_t nextDifat = firstDifat;
  for (uint32_t i = 0; fatList.size() < fatSectors; ++i) {
    if (i >= difatSectors || nextDifat == kEndOfChain) {
      return damaged("the DIFAT chain ends before listing all " + Number(fatSectors) +
                     " allocation table sectors");
    }
    if (!reader.Claim(nextDifat, "the DIFAT chain", error)) return damaged(error);
    std::vector<uint8_t> sector;
    reader.Append(nextDifat, sector, file.sectorSize_);
    for (uint32_t k = 0; k + 1 < perSector && fatList.size() < fatSectors; ++k) {
      fatList.push_back(Get32(sector, 4 * k));
    }
    nextDifat = Get32(sector, 4 * (perSector - 1));
  }
  for (uint32_t sector : fatList) {
    if (!reader.Claim(sector, "the allocation table", error)) return damaged(error);
    std::vector<uint8_t> bytesOfSector;
    reader.Append(sector, bytesOfSector, file.sectorSize_);
    for (uint32_t k = 0; k < perSector; ++k) file.fat_.push_back(Get32(bytesOfSector, 4 * k));
  }

  // The directory.
  std::vector<uint32_t> directorySectors;
  if (!WalkChain(file.fat_, firstDirectory, std::nullopt, "the directory", claim("the directory"),
                 directorySectors, error)) {
    return damaged(error);
  }
  if (directorySectors.empty()) return damaged("there is no directory");
  std::vector<uint8_t> directory;
  for (uint32_t sector : directorySectors) reader.Append(sector, directory, file.sectorSize_);
  for (size_t at = 0; at + kEntrySize <= directory.size(); at += kEntrySize) {
    const std::span<const uint8_t> e(directory.data() + at, kEntrySize);
    DirectoryEntry entry;
    const uint16_t nameBytes = Get16(e, 64);
    if (nameBytes <= 64 && nameBytes % 2 == 0) {
      for (size_t i = 0; i + 2 < nameBytes; i += 2)
        entry.name += static_cast<char16_t>(Get16(e, i));
    }
    entry.type = static_cast<DirectoryEntry::Type>(e[66]);
    entry.color = e[67];
    entry.left = Get32(e, 68);
    entry.right = Get32(e, 72);
    entry.child = Get32(e, 76);
    std::copy(e.begin() + 80, e.begin() + 96, entry.classId.begin());
    entry.stateBits = Get32(e, 96);
    std::copy(e.begin() + 100, e.begin() + 108, entry.created.begin());
    std::copy(e.begin() + 108, e.begin() + 116, entry.modified.begin());
    entry.startSector = Get32(e, 116);
    entry.size = file.majorVersion_ == 3 ? Get32(e, 120) : Get64(e, 120);
    if (nameBytes > 64 || nameBytes % 2 != 0) entry.type = DirectoryEntry::Type::kUnused;
    file.entries_.push_back(std::move(entry));
  }
  if (file.entries_.empty() || file.entries_[0].type != DirectoryEntry::Type::kRoot) {
    return damaged("the directory does not begin with a root entry");
  }

  // The mini stream (the root entry's stream) and its allocation table.
  const DirectoryEntry& rootEntry = file.entries_[0];
  if (rootEntry.size > bytes.size()) return damaged("the mini stream is larger than the file");
  std::vector<uint32_t> miniStreamSectors;
  if (!WalkChain(file.fat_, rootEntry.startSector, CeilDiv(rootEntry.size, file.sectorSize_),
                 "the mini stream", claim("the mini stream"), miniStreamSectors, error)) {
    return damaged(error);
  }
  for (uint32_t sector : miniStreamSectors) {
    reader.Append(sector, file.miniStream_, file.sectorSize_);
  }
  const uint64_t miniSectorCount = CeilDiv(rootEntry.size, kMiniSectorSize);
  file.miniStream_.resize(static_cast<size_t>(miniSectorCount * kMiniSectorSize), 0);
  std::vector<uint32_t> miniFatSectors;
  if (!WalkChain(file.fat_, firstMiniFat, std::nullopt, "the mini allocation table",
                 claim("the mini allocation table"), miniFatSectors, error)) {
    return damaged(error);
  }
  for (uint32_t sector : miniFatSectors) {
    std::vector<uint8_t> bytesOfSector;
    reader.Append(sector, bytesOfSector, file.sectorSize_);
    for (uint32_t k = 0; k < perSector; ++k) file.miniFat_.push_back(Get32(bytesOfSector, 4 * k));
  }
  std::vector<uint8_t> miniClaimed(static_cast<size_t>(miniSectorCount), 0);

  // The tree of storages and streams, and the chain of every stream in it.
  std::vector<uint8_t> visited(file.entries_.size(), 0);
  visited[0] = 1;
  file.parent_.assign(file.entries_.size(), kNoEntry);
  std::vector<std::pair<uint32_t, uint32_t>> pending;  // entry, its storage
  if (rootEntry.child != kNoEntry) pending.emplace_back(rootEntry.child, 0);
  while (!pending.empty()) {
    const auto [index, storage] = pending.back();
    pending.pop_back();
    if (index >= file.entries_.size()) {
      return damaged("a directory link refers to entry " + Number(index) + " of " +
                     Number(file.entries_.size()));
    }
    if (visited[index])
      return damaged("the directory tree reaches entry " + Number(index) + " twice");
    visited[index] = 1;
    const DirectoryEntry& entry = file.entries_[index];
    const std::string what = "stream " + NameText(entry.name);
    if (entry.type == DirectoryEntry::Type::kStream) {
      if (entry.size > bytes.size()) return damaged(what + " is larger than the file");
      std::vector<uint32_t> sectors;
      if (entry.size < file.miniCutoff_) {
        auto claimMini = [&](uint32_t sector) {
          if (sector >= miniSectorCount) {
            error = what + " refers to mini sector " + Number(sector) +
                    ", past the end of the mini stream";
            return false;
          }
          if (miniClaimed[sector]) {
            error = what + " uses mini sector " + Number(sector) +
                    " a second time (its chain loops or crosses another)";
            return false;
          }
          miniClaimed[sector] = 1;
          return true;
        };
        if (!WalkChain(file.miniFat_, entry.startSector, CeilDiv(entry.size, kMiniSectorSize), what,
                       claimMini, sectors, error)) {
          return damaged(error);
        }
      } else if (!WalkChain(file.fat_, entry.startSector, CeilDiv(entry.size, file.sectorSize_),
                            what, claim(what), sectors, error)) {
        return damaged(error);
      }
    } else if (entry.type == DirectoryEntry::Type::kStorage) {
      if (entry.child != kNoEntry) pending.emplace_back(entry.child, index);
    } else {
      return damaged("directory entry " + Number(index) + " is neither a storage nor a stream");
    }
    file.parent_[index] = storage;
    file.reachable_.push_back(index);
    if (entry.left != kNoEntry) pending.emplace_back(entry.left, storage);
    if (entry.right != kNoEntry) pending.emplace_back(entry.right, storage);
  }
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
  const uint32_t sectorSize = sectorSize_;
  const uint64_t perSector = sectorSize / 4;
  std::vector<std::vector<uint8_t>> contents(entries_.size());
  std::vector<uint8_t> live(entries_.size(), 0);
  live[0] = 1;
  for (uint32_t index : reachable_) {
    live[index] = 1;
    if (entries_[index].type == DirectoryEntry::Type::kStream) contents[index] = StreamBytes(index);
  }

  // Streams under the cutoff, one after another in the mini stream.
  std::vector<uint32_t> start(entries_.size(), kEndOfChain);
  std::vector<uint32_t> miniFat;
  for (uint32_t index : reachable_) {
    const size_t size = contents[index].size();
    if (size == 0 || size >= kWrittenMiniCutoff) continue;
    const uint32_t first = static_cast<uint32_t>(miniFat.size());
    const uint32_t count = static_cast<uint32_t>(CeilDiv(size, kMiniSectorSize));
    start[index] = first;
    for (uint32_t i = 0; i < count; ++i) {
      miniFat.push_back(i + 1 < count ? first + i + 1 : kEndOfChain);
    }
  }
  const uint64_t miniStreamSize = miniFat.size() * uint64_t{kMiniSectorSize};

  const uint64_t directorySectors = CeilDiv(entries_.size() * uint64_t{kEntrySize}, sectorSize);
  const uint64_t miniFatSectors = CeilDiv(miniFat.size() * uint64_t{4}, sectorSize);
  const uint64_t miniStreamSectors = CeilDiv(miniStreamSize, sectorSize);
  uint64_t dataSectors = directorySectors + miniFatSectors + miniStreamSectors;
  for (uint32_t index : reachable_) {
    if (contents[index].size() >= kWrittenMiniCutoff) {
      dataSectors += CeilDiv(contents[index].size(), sectorSize);
    }
  }
  // The allocation table covers every sector including its own and the DIFAT's.
  uint64_t fatSectors = 0;
  uint64_t difatSectors = 0;
  while (true) {
    const uint64_t fat = CeilDiv(dataSectors + fatSectors + difatSectors, perSector);
    const uint64_t difat =
        fat > kHeaderDifatEntries ? CeilDiv(fat - kHeaderDifatEntries, perSector - 1) : 0;
    if (fat == fatSectors && difat == difatSectors) break;
    fatSectors = fat;
    difatSectors = difat;
  }
  const uint64_t totalSectors = fatSectors + difatSectors + dataSectors;

  std::vector<uint32_t> fat(static_cast<size_t>(fatSectors * perSector), kFreeSector);
  uint32_t next = 0;
  auto allocate = [&](uint64_t count, uint32_t mark) {
    const uint32_t first = next;
    for (uint64_t i = 0; i < count; ++i, ++next) {
      fat[next] = mark != 0 ? mark : (i + 1 < count ? next + 1 : kEndOfChain);
    }
    return count == 0 ? kEndOfChain : first;
  };
  const uint32_t firstFat = allocate(fatSectors, kFatSector);
  const uint32_t firstDifat = allocate(difatSectors, kDifatSector);
  const uint32_t firstDirectory = allocate(directorySectors, 0);
  const uint32_t firstMiniFat = allocate(miniFatSectors, 0);
  const uint32_t firstMiniStream = allocate(miniStreamSectors, 0);
  for (uint32_t index : reachable_) {
    if (contents[index].size() >= kWrittenMiniCutoff) {
      start[index] = allocate(CeilDiv(contents[index].size(), sectorSize), 0);
    }
  }

  std::vector<uint8_t> out(static_cast<size_t>((totalSectors + 1) * sectorSize), 0);
  auto at = [&](uint64_t sector) { return static_cast<size_t>((sector + 1) * sectorSize); };

  // Header.
  std::copy(std::begin(kSignature), std::end(kSignature), out.begin());
  Put16(out, 24, 0x003E);
  Put16(out, 26, majorVersion_);
  Put16(out, 28, 0xFFFE);
  Put16(out, 30, majorVersion_ == 4 ? 12 : 9);
  Put16(out, 32, 6);
  Put32(out, 40, majorVersion_ == 4 ? static_cast<uint32_t>(directorySectors) : 0);
  Put32(out, 44, static_cast<uint32_t>(fatSectors));
  Put32(out, 48, firstDirectory);
  Put32(out, 56, kWrittenMiniCutoff);
  Put32(out, 60, firstMiniFat);
  Put32(out, 64, static_cast<uint32_t>(miniFatSectors));
  Put32(out, 68, firstDifat);
  Put32(out, 72, static_cast<uint32_t>(difatSectors));
  for (uint32_t i = 0; i < kHeaderDifatEntries; ++i) {
    Put32(out, 76 + 4 * i, i < fatSectors ? firstFat + i : kFreeSector);
  }
  // DIFAT sectors: the allocation table sectors past the first 109, then the next DIFAT sector.
  for (uint64_t d = 0; d < difatSectors; ++d) {
    const size_t base = at(firstDifat + d);
    for (uint64_t k = 0; k + 1 < perSector; ++k) {
      const uint64_t listed = kHeaderDifatEntries + d * (perSector - 1) + k;
      Put32(out, base + static_cast<size_t>(4 * k),
            listed < fatSectors ? firstFat + static_cast<uint32_t>(listed) : kFreeSector);
    }
    Put32(out, base + static_cast<size_t>(4 * (perSector - 1)),
          d + 1 < difatSectors ? firstDifat + static_cast<uint32_t>(d + 1) : kEndOfChain);
  }
  for (size_t i = 0; i < fat.size(); ++i) {
    Put32(out, at(firstFat) + 4 * i, fat[i]);
  }

  // Directory: entries the tree does not reach, and the padding, as unused entries.
  const size_t directoryBase = at(firstDirectory);
  for (size_t i = 0; i < directorySectors * sectorSize / kEntrySize; ++i) {
    const size_t base = directoryBase + i * kEntrySize;
    Put32(out, base + 68, kNoEntry);
    Put32(out, base + 72, kNoEntry);
    Put32(out, base + 76, kNoEntry);
    if (i >= entries_.size() || !live[i]) continue;
    const DirectoryEntry& e = entries_[i];
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
    std::copy(e.modified.begin(), e.modified.end(),
              out.begin() + static_cast<ptrdiff_t>(base + 108));
    if (e.type == DirectoryEntry::Type::kRoot) {
      Put32(out, base + 116, firstMiniStream);
      Put64(out, base + 120, miniStreamSize);
    } else if (e.type == DirectoryEntry::Type::kStream) {
      Put32(out, base + 116, start[i]);
      Put64(out, base + 120, contents[i].size());
    }
  }

  // Mini allocation table and mini stream.
  for (size_t i = 0; i < miniFat.size(); ++i) Put32(out, at(firstMiniFat) + 4 * i, miniFat[i]);
  for (uint32_t index : reachable_) {
    const std::vector<uint8_t>& data = contents[index];
    if (data.empty()) continue;
    const size_t base = data.size() < kWrittenMiniCutoff
                            ? at(firstMiniStream) + size_t{start[index]} * kMiniSectorSize
                            : at(start[index]);
    std::copy(data.begin(), data.end(), out.begin() + static_cast<ptrdiff_t>(base));
  }
  return out;
}

}  // namespace packer
