#include "tools/packer/pe_image.h"

#include <algorithm>
#include <cstring>

namespace packer {

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

void WriteU16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void WriteU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

DataDirectory PeImage::Directory(int index) const {
  if (static_cast<std::uint32_t>(index) >= dataDirectoryCount) return {};
  std::size_t at = DirectoryOffset(index);
  return {ReadU32(bytes, at), ReadU32(bytes, at + 4)};
}

std::size_t PeImage::DirectoryOffset(int index) const {
  return dataDirectoryOffset + 8 * static_cast<std::size_t>(index);
}

const Section* PeImage::SectionAt(std::uint32_t rva) const {
  for (const Section& s : sections) {
    std::uint32_t extent = s.virtualSize ? s.virtualSize : s.sizeOfRawData;
    if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) return &s;
  }
  return nullptr;
}

std::optional<std::span<const std::uint8_t>> PeImage::AtRva(std::uint32_t rva,
                                                            std::uint32_t size) const {
  const Section* s = SectionAt(rva);
  if (!s) return std::nullopt;
  std::uint64_t within = rva - s->virtualAddress;
  if (within + size > s->sizeOfRawData) return std::nullopt;
  return std::span<const std::uint8_t>(bytes).subspan(
      static_cast<std::size_t>(s->pointerToRawData + within), size);
}

namespace {

bool PowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

Outcome<PeImage> ParsePe(std::vector<std::uint8_t> bytes) {
  PeImage image;
  image.bytes = std::move(bytes);
  const auto& b = image.bytes;
  if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z')
    return Failure{"not an executable (no MZ header)"};
  std::uint32_t peOffset = ReadU32(b, 60);
  if (peOffset > b.size() || b.size() - peOffset < 24 ||
      std::memcmp(b.data() + peOffset, "PE\0\0", 4) != 0) {
    return Failure{"not a PE image (no PE signature)"};
  }
  image.fileHeaderOffset = peOffset + 4;
  std::uint16_t sectionCount = ReadU16(b, image.fileHeaderOffset + 2);
  std::uint32_t symbolTable = ReadU32(b, image.fileHeaderOffset + 8);
  std::uint16_t optionalSize = ReadU16(b, image.fileHeaderOffset + 16);
  image.optionalHeaderOffset = image.fileHeaderOffset + 20;
  if (symbolTable != 0) {
    return Failure{"the image carries a COFF symbol table; give the stripped stub"};
  }
  if (b.size() - image.optionalHeaderOffset < optionalSize || optionalSize < 2) {
    return Failure{"the optional header runs past the end of the file"};
  }
  std::uint16_t magic = ReadU16(b, image.optionalHeaderOffset);
  if (magic != 0x10B && magic != 0x20B) return Failure{"unknown optional header magic"};
  image.pe32Plus = magic == 0x20B;
  std::size_t countAt = image.optionalHeaderOffset + (image.pe32Plus ? 108 : 92);
  image.dataDirectoryOffset = countAt + 4;
  if (countAt + 4 > image.optionalHeaderOffset + optionalSize) {
    return Failure{"the optional header is too short"};
  }
  image.dataDirectoryCount = ReadU32(b, countAt);
  if (image.dataDirectoryOffset + 8ull * image.dataDirectoryCount >
      image.optionalHeaderOffset + optionalSize) {
    return Failure{"the data directories run past the optional header"};
  }
  image.sectionAlignment = ReadU32(b, image.optionalHeaderOffset + 32);
  image.fileAlignment = ReadU32(b, image.optionalHeaderOffset + 36);
  image.sizeOfHeaders = ReadU32(b, image.optionalHeaderOffset + 60);
  if (!PowerOfTwo(image.sectionAlignment) || !PowerOfTwo(image.fileAlignment) ||
      image.fileAlignment > image.sectionAlignment) {
    return Failure{"unusual section or file alignment"};
  }
  image.sectionTableOffset = image.optionalHeaderOffset + optionalSize;
  if (image.sectionTableOffset + 40ull * sectionCount >
      std::min<std::uint64_t>(image.sizeOfHeaders, b.size())) {
    return Failure{"the section table runs past the headers"};
  }
  std::uint64_t previousEnd = 0;
  for (std::uint16_t i = 0; i < sectionCount; ++i) {
    Section s;
    s.headerOffset = image.sectionTableOffset + 40u * i;
    const char* name = reinterpret_cast<const char*>(b.data() + s.headerOffset);
    s.name.assign(name, strnlen(name, 8));
    s.virtualSize = ReadU32(b, s.headerOffset + 8);
    s.virtualAddress = ReadU32(b, s.headerOffset + 12);
    s.sizeOfRawData = ReadU32(b, s.headerOffset + 16);
    s.pointerToRawData = ReadU32(b, s.headerOffset + 20);
    s.characteristics = ReadU32(b, s.headerOffset + 36);
    if (s.virtualAddress < previousEnd || s.virtualAddress % image.sectionAlignment != 0) {
      return Failure{"section " + s.name + " is out of address order or unaligned"};
    }
    if (s.sizeOfRawData != 0 &&
        static_cast<std::uint64_t>(s.pointerToRawData) + s.sizeOfRawData > b.size()) {
      return Failure{"section " + s.name + " runs past the end of the file"};
    }
    previousEnd = AlignUp(
        static_cast<std::uint64_t>(s.virtualAddress) + std::max(s.virtualSize, s.sizeOfRawData),
        image.sectionAlignment);
    image.sections.push_back(std::move(s));
  }
  return image;
}

void CheckSum::Add(std::span<const std::uint8_t> piece) {
  // 2^16 is 1 modulo 0xFFFF, so 32-bit words may be summed whole and folded at the end.
  std::size_t i = 0;
  std::uint64_t sum = 0;
  for (; i + 4 <= piece.size(); i += 4) {
    sum += ReadU32(piece, i);
  }
  for (; i < piece.size(); i += 2) {
    sum += piece[i] | (i + 1 < piece.size() ? piece[i + 1] << 8 : 0);
  }
  // Fold before adding, so that no number of pieces can overflow.
  while (sum >> 32) sum = (sum & 0xFFFFFFFF) + (sum >> 32);
  sum_ += sum;
  while (sum_ >> 32) sum_ = (sum_ & 0xFFFFFFFF) + (sum_ >> 32);
}

std::uint32_t CheckSum::Finish(std::uint64_t fileLength) const {
  std::uint64_t sum = sum_;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + fileLength);
}

}  // namespace packer
