#include "tools/packer/package.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <limits>

namespace packer {

std::string PathText(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

namespace {

constexpr std::uint64_t kMaxImage = std::numeric_limits<std::uint32_t>::max();

bool InSection(const Section& s, std::uint32_t rva) {
  return rva >= s.virtualAddress &&
         rva - s.virtualAddress < std::max(s.virtualSize, s.sizeOfRawData);
}

// The stub's resources with every resource of the payload type replaced by the payloads.
Outcome<Done> PutPayloads(ResourceTree& tree, std::vector<Payload>& payloads) {
  const ResourceName payloadType = ResourceName::Text(kPayloadType);
  tree.erase(payloadType);
  for (Payload& payload : payloads) {
    payload.data.pageAligned = true;
    if (payload.data.Size() == 0) return Failure{"a payload is empty"};
    if (!tree[payloadType][payload.name]
             .emplace(payload.language, std::move(payload.data))
             .second) {
      return Failure{"payload " + payload.name.Describe() + " is given twice"};
    }
  }
  return Done{};
}

// The index of the resource section, when the stub's layout lets it be rebuilt in place: no
// section's data behind it in the file but that of the sections after it, which must be base
// relocations (nothing refers to their addresses but their data directory entry).
Outcome<std::size_t> RebuildableResourceSection(const PeImage& image) {
  DataDirectory resources = image.Directory(kResourceDirectory);
  auto rsrc = std::find_if(image.sections.begin(), image.sections.end(), [&](const Section& s) {
    return resources.virtualAddress != 0 && s.virtualAddress == resources.virtualAddress;
  });
  if (rsrc == image.sections.end()) return Failure{"the stub has no resource section"};
  const std::size_t r = static_cast<std::size_t>(rsrc - image.sections.begin());
  for (std::size_t i = 0; i < r; ++i) {
    const Section& s = image.sections[i];
    if (s.sizeOfRawData && s.pointerToRawData + s.sizeOfRawData > rsrc->pointerToRawData) {
      return Failure{"section " + s.name + " lies behind the resource section in the file"};
    }
  }
  if (rsrc->pointerToRawData < image.sizeOfHeaders) {
    return Failure{"the resource section overlaps the headers"};
  }
  for (std::size_t i = r + 1; i < image.sections.size(); ++i) {
    const Section& s = image.sections[i];
    if (s.name != ".reloc") {
      return Failure{"section " + s.name + " follows the resource section; it cannot be moved"};
    }
    for (std::uint32_t d = 0; d < image.dataDirectoryCount; ++d) {
      DataDirectory entry = image.Directory(static_cast<int>(d));
      if (d != kBaseRelocationDirectory && d != kSecurityDirectory && entry.virtualAddress &&
          InSection(s, entry.virtualAddress)) {
        return Failure{"data directory " + std::to_string(d) + " points into section " + s.name};
      }
    }
  }
  return r;
}

// The new resource section in the headers and as parts of the output.
void PlaceResources(Package& p, const Section& rsrc, std::uint64_t rsrcRaw) {
  std::span<std::uint8_t> h(p.headers);
  WriteU32(h, rsrc.headerOffset + 8, static_cast<std::uint32_t>(p.resources.size));
  WriteU32(h, rsrc.headerOffset + 16, static_cast<std::uint32_t>(std::min(rsrcRaw, kMaxImage)));
  WriteU32(h, p.stub.DirectoryOffset(kResourceDirectory) + 4,
           static_cast<std::uint32_t>(p.resources.size));
  p.parts.push_back({rsrc.pointerToRawData, p.resources.head, nullptr});
  for (const ResourceLayout::Placed& placed : p.resources.placed) {
    p.parts.push_back({rsrc.pointerToRawData + placed.offset, {}, placed.data});
  }
}

// Moves the sections after the resource section (base relocations) up behind the new one, in
// the headers and as parts of the output; sets the update's size and gives the image's end.
Outcome<std::uint64_t> MoveSectionsBehind(Package& p, std::size_t r, std::uint64_t rsrcRaw) {
  const PeImage& image = p.stub;
  const Section& rsrc = image.sections[r];
  std::span<std::uint8_t> h(p.headers);
  std::uint64_t nextRva = AlignUp(rsrc.virtualAddress + p.resources.size, image.sectionAlignment);
  std::uint64_t nextFile = rsrc.pointerToRawData + rsrcRaw;
  std::uint64_t imageEnd = nextRva;
  DataDirectory relocations = image.Directory(kBaseRelocationDirectory);
  for (std::size_t i = r + 1; i < image.sections.size(); ++i) {
    const Section& s = image.sections[i];
    if (nextRva > kMaxImage || nextFile > kMaxImage) break;
    if (relocations.virtualAddress && InSection(s, relocations.virtualAddress)) {
      WriteU32(
          h, image.DirectoryOffset(kBaseRelocationDirectory),
          static_cast<std::uint32_t>(nextRva + (relocations.virtualAddress - s.virtualAddress)));
    }
    WriteU32(h, s.headerOffset + 12, static_cast<std::uint32_t>(nextRva));
    if (s.sizeOfRawData) {
      WriteU32(h, s.headerOffset + 20, static_cast<std::uint32_t>(nextFile));
      p.parts.push_back(
          {nextFile,
           std::span<const std::uint8_t>(image.bytes).subspan(s.pointerToRawData, s.sizeOfRawData),
           nullptr});
    }
    nextFile += s.sizeOfRawData;
    nextRva = AlignUp(nextRva + std::max(s.virtualSize, s.sizeOfRawData), image.sectionAlignment);
    imageEnd = nextRva;
  }
  if (imageEnd > kMaxImage || nextFile > kMaxImage) {
    return Failure{"the update would not fit into the 4 GiB a PE image can address"};
  }
  p.size = nextFile;
  return imageEnd;
}

// Whatever the stub carried behind its sections: only a certificate table is expected, and it
// is dropped.
Outcome<Done> DropCertificates(const PeImage& image, std::span<std::uint8_t> h) {
  std::uint64_t sectionsEnd = 0;
  for (const Section& s : image.sections) {
    sectionsEnd = std::max<std::uint64_t>(sectionsEnd, s.pointerToRawData + s.sizeOfRawData);
  }
  DataDirectory certificates = image.Directory(kSecurityDirectory);
  std::uint64_t overlayEnd = image.bytes.size();
  if (certificates.virtualAddress >= sectionsEnd &&
      certificates.virtualAddress + static_cast<std::uint64_t>(certificates.size) == overlayEnd) {
    overlayEnd = certificates.virtualAddress;
  }
  if (overlayEnd > AlignUp(sectionsEnd, image.fileAlignment)) {
    return Failure{"the stub carries data behind its last section"};
  }
  if (certificates.virtualAddress) {
    WriteU32(h, image.DirectoryOffset(kSecurityDirectory), 0);
    WriteU32(h, image.DirectoryOffset(kSecurityDirectory) + 4, 0);
  }
  return Done{};
}

// The optional header's sizes for the new layout; the checksum zero until the update is written.
void FixSizes(Package& p, const Section& rsrc, std::uint64_t rsrcRaw, std::uint64_t imageEnd) {
  const PeImage& image = p.stub;
  std::span<std::uint8_t> h(p.headers);
  WriteU32(h, image.SizeOfImageOffset(), static_cast<std::uint32_t>(imageEnd));
  if (rsrc.characteristics & kScnInitializedData) {
    std::uint64_t initialized = ReadU32(h, image.SizeOfInitializedDataOffset());
    initialized = initialized - std::min<std::uint64_t>(initialized, rsrc.sizeOfRawData) + rsrcRaw;
    WriteU32(h, image.SizeOfInitializedDataOffset(),
             static_cast<std::uint32_t>(std::min(initialized, kMaxImage)));
  }
  p.checkSumOffset = image.CheckSumOffset();
  WriteU32(h, p.checkSumOffset, 0);
}

}  // namespace

Outcome<std::unique_ptr<Package>> PlanUpdate(PeImage stub, std::vector<Payload> payloads) {
  auto package = std::make_unique<Package>();
  Package& p = *package;
  p.stub = std::move(stub);
  const PeImage& image = p.stub;

  Outcome<ResourceTree> tree = ReadResources(image);
  if (!tree) return Failure{"the stub's resources: " + tree.error()};
  p.tree = std::move(*tree);
  if (Outcome<Done> put = PutPayloads(p.tree, payloads); !put) return put.failure();
  Outcome<std::size_t> r = RebuildableResourceSection(image);
  if (!r) return r.failure();
  const Section& rsrc = image.sections[*r];
  Outcome<ResourceLayout> layout = LayOutResources(p.tree, rsrc.virtualAddress);
  if (!layout) return layout.failure();
  p.resources = std::move(*layout);

  // The stub's file up to its resource section, with the headers to fix.
  p.headers.assign(image.bytes.begin(), image.bytes.begin() + rsrc.pointerToRawData);
  p.parts.push_back({0, p.headers, nullptr});
  const std::uint64_t rsrcRaw = AlignUp(p.resources.size, image.fileAlignment);
  PlaceResources(p, rsrc, rsrcRaw);
  Outcome<std::uint64_t> imageEnd = MoveSectionsBehind(p, *r, rsrcRaw);
  if (!imageEnd) return imageEnd.failure();
  if (Outcome<Done> dropped = DropCertificates(image, p.headers); !dropped) {
    return dropped.failure();
  }
  FixSizes(p, rsrc, rsrcRaw, *imageEnd);
  return package;
}

namespace {

class Output {
 public:
  explicit Output(std::ostream& out) : out_(out) {}

  bool Write(std::span<const std::uint8_t> bytes) {
    sum_.Add(bytes);
    out_.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    at_ += bytes.size();
    return static_cast<bool>(out_);
  }

  bool ZerosTo(std::uint64_t offset) {
    static const std::array<std::uint8_t, kPageSize> zeros{};
    while (at_ < offset) {
      std::uint64_t n = std::min<std::uint64_t>(offset - at_, zeros.size());
      out_.write(reinterpret_cast<const char*>(zeros.data()), static_cast<std::streamsize>(n));
      at_ += n;
      if (!out_) return false;
    }
    return true;
  }

  std::uint64_t at() const { return at_; }
  const CheckSum& sum() const { return sum_; }

 private:
  std::ostream& out_;
  CheckSum sum_;
  std::uint64_t at_ = 0;
};

Outcome<Done> StreamFile(const FileContent& content, Output& output) {
  std::ifstream in(content.file, std::ios::binary);
  if (!in) return Failure{"cannot be opened"};
  constexpr std::size_t kChunk = 1 << 20;
  std::vector<std::uint8_t> buffer(kChunk);
  std::uint64_t left = content.size;
  while (left > 0) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
    in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(n));
    if (static_cast<std::size_t>(in.gcount()) != n) {
      return Failure{"the file became shorter while it was packaged"};
    }
    if (!output.Write(std::span<const std::uint8_t>(buffer.data(), n))) {
      return Failure{"cannot write the output"};
    }
    left -= n;
  }
  if (in.peek() != std::ifstream::traits_type::eof()) {
    return Failure{"the file became longer while it was packaged"};
  }
  return Done{};
}

}  // namespace

Outcome<Done> WriteUpdate(const Package& package, std::ostream& out) {
  Output output(out);
  for (const Package::Part& part : package.parts) {
    if (part.offset < output.at()) return Failure{"the planned parts overlap"};
    if (!output.ZerosTo(part.offset)) return Failure{"cannot write the output"};
    if (!part.data) {
      if (!output.Write(part.bytes)) return Failure{"cannot write the output"};
      continue;
    }
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&part.data->content)) {
      if (!output.Write(*bytes)) return Failure{"cannot write the output"};
    } else {
      const FileContent& file = std::get<FileContent>(part.data->content);
      Outcome<Done> streamed = StreamFile(file, output);
      if (!streamed) {
        return Failure{PathText(file.file) + ": " + streamed.error()};
      }
    }
  }
  if (!output.ZerosTo(package.size)) return Failure{"cannot write the output"};
  std::array<std::uint8_t, 4> sum{};
  WriteU32(sum, 0, output.sum().Finish(package.size));
  out.seekp(static_cast<std::streamoff>(package.checkSumOffset));
  out.write(reinterpret_cast<const char*>(sum.data()), 4);
  out.flush();
  if (!out) return Failure{"cannot write the output"};
  return Done{};
}

}  // namespace packer
