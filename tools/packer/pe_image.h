// Reading the headers and section table of a PE image (PE32 or PE32+) held in memory, and the
// image checksum. Only what the packer needs to rebuild the resource section is interpreted; every
// other byte of the image is left as it is.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/packer/outcome.h"

namespace packer {

inline constexpr int kResourceDirectory = 2;
inline constexpr int kSecurityDirectory = 4;
inline constexpr int kBaseRelocationDirectory = 5;
inline constexpr std::uint32_t kScnInitializedData = 0x00000040;

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset);
void WriteU16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value);
void WriteU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);

constexpr std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

struct Section {
  std::string name;  // up to eight characters, as stored
  std::uint32_t virtualSize = 0;
  std::uint32_t virtualAddress = 0;
  std::uint32_t sizeOfRawData = 0;
  std::uint32_t pointerToRawData = 0;
  std::uint32_t characteristics = 0;
  std::size_t headerOffset = 0;  // of its entry in the section table
};

struct DataDirectory {
  std::uint32_t virtualAddress = 0;
  std::uint32_t size = 0;
};

struct PeImage {
  std::vector<std::uint8_t> bytes;  // the whole file
  std::size_t fileHeaderOffset = 0;
  std::size_t optionalHeaderOffset = 0;
  std::size_t dataDirectoryOffset = 0;
  std::uint32_t dataDirectoryCount = 0;
  std::size_t sectionTableOffset = 0;
  bool pe32Plus = false;
  std::uint32_t fileAlignment = 0;
  std::uint32_t sectionAlignment = 0;
  std::uint32_t sizeOfHeaders = 0;
  std::vector<Section> sections;  // in table order, which is address order

  DataDirectory Directory(int index) const;
  std::size_t DirectoryOffset(int index) const;
  std::size_t CheckSumOffset() const { return optionalHeaderOffset + 64; }
  std::size_t SizeOfImageOffset() const { return optionalHeaderOffset + 56; }
  std::size_t SizeOfInitializedDataOffset() const { return optionalHeaderOffset + 8; }
  // The file bytes behind [rva, rva + size), when they lie wholly in one section's raw data.
  std::optional<std::span<const std::uint8_t>> AtRva(std::uint32_t rva, std::uint32_t size) const;
  // The section whose address range holds rva.
  const Section* SectionAt(std::uint32_t rva) const;
};

// Checks the structure the packer relies on: headers inside the file, sections in address order
// with raw data inside the file, power-of-two alignments.
Outcome<PeImage> ParsePe(std::vector<std::uint8_t> bytes);

// The image checksum as Windows computes it (CheckSumMappedFile): the file summed as 16-bit
// little-endian words with the carry folded back, the checksum field counted as zero, plus the
// file's length. Summed in pieces: Add takes the file in order, each piece starting at an even
// offset (pieces of odd length are padded with zero, so only the last one may be odd).
class CheckSum {
 public:
  void Add(std::span<const std::uint8_t> piece);
  std::uint32_t Finish(std::uint64_t fileLength) const;

 private:
  std::uint64_t sum_ = 0;
};

}  // namespace packer
