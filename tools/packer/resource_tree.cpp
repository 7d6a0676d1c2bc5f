#include "tools/packer/resource_tree.h"

#include <algorithm>
#include <limits>

namespace packer {

namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr int kMaxEntries = 0xFFFF;

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

struct Reader {
  const PeImage& image;
  std::span<const std::uint8_t> section;  // the resource section's raw data
  std::uint32_t sectionRva;

  Outcome<ResourceName> Name(std::uint32_t field) const {
    if (!(field & kHighBit)) return ResourceName::Id(static_cast<std::uint16_t>(field));
    std::uint32_t at = field & ~kHighBit;
    if (at + 2ull > section.size()) return Failure{"a resource name lies outside the section"};
    std::uint16_t length = ReadU16(section, at);
    if (at + 2ull + 2ull * length > section.size()) {
      return Failure{"a resource name runs past the section"};
    }
    std::u16string text(length, u'\0');
    for (std::uint16_t i = 0; i < length; ++i) text[i] = ReadU16(section, at + 2 + 2u * i);
    return ResourceName::Text(text);
  }

  // Calls each(name, field) for the entries of the directory at offset.
  template <typename Each>
  Outcome<Done> Entries(std::uint32_t offset, Each each) const {
    if (offset + 16ull > section.size()) return Failure{"a resource directory lies outside"};
    std::uint32_t count = ReadU16(section, offset + 12) + ReadU16(section, offset + 14);
    if (offset + 16ull + 8ull * count > section.size()) {
      return Failure{"a resource directory runs past the section"};
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t entry = offset + 16 + 8 * i;
      Outcome<ResourceName> name = Name(ReadU32(section, entry));
      if (!name) return name.failure();
      Outcome<Done> done = each(*name, ReadU32(section, entry + 4));
      if (!done) return done;
    }
    return Done{};
  }

  Outcome<std::uint32_t> Subdirectory(std::uint32_t field) const {
    if (!(field & kHighBit)) return Failure{"a resource directory entry has data too early"};
    return field & ~kHighBit;
  }

  Outcome<ResourceData> Data(std::uint32_t field) const {
    if (field & kHighBit) return Failure{"a resource language entry is a directory"};
    if (field + 16ull > section.size()) return Failure{"a resource data entry lies outside"};
    std::uint32_t rva = ReadU32(section, field);
    std::uint32_t size = ReadU32(section, field + 4);
    auto bytes = image.AtRva(rva, size);
    if (!bytes) return Failure{"resource data lies outside the image's file data"};
    ResourceData data;
    data.content = std::vector<std::uint8_t>(bytes->begin(), bytes->end());
    data.codePage = ReadU32(section, field + 8);
    return data;
  }
};

std::uint64_t Align(std::uint64_t v, std::uint64_t a) { return AlignUp(v, a); }

}  // namespace

std::string ResourceName::Describe() const {
  if (!named) return std::to_string(id);
  std::string text;
  for (char16_t c : name) text += c < 0x80 ? static_cast<char>(c) : '?';
  return "\"" + text + "\"";
}

bool WindowsOrder::operator()(const ResourceName& a, const ResourceName& b) const {
  if (a.named != b.named) return a.named;
  if (!a.named) return a.id < b.id;
  return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                      [](char16_t x, char16_t y) { return Upper(x) < Upper(y); });
}

std::uint64_t ResourceData::Size() const {
  if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&content)) return bytes->size();
  return std::get<FileContent>(content).size;
}

Outcome<ResourceTree> ReadResources(const PeImage& image) {
  ResourceTree tree;
  DataDirectory directory = image.Directory(kResourceDirectory);
  if (directory.virtualAddress == 0) return tree;
  const Section* s = image.SectionAt(directory.virtualAddress);
  if (!s || s->virtualAddress != directory.virtualAddress) {
    return Failure{"the resource directory does not start a section"};
  }
  Reader reader{image,
                std::span<const std::uint8_t>(image.bytes)
                    .subspan(s->pointerToRawData, std::min(s->sizeOfRawData, s->virtualSize)),
                s->virtualAddress};
  Outcome<Done> read = reader.Entries(0, [&](const ResourceName& type, std::uint32_t field) {
    Outcome<std::uint32_t> names = reader.Subdirectory(field);
    if (!names) return Outcome<Done>(names.failure());
    return reader.Entries(*names, [&](const ResourceName& name, std::uint32_t nameField) {
      Outcome<std::uint32_t> languages = reader.Subdirectory(nameField);
      if (!languages) return Outcome<Done>(languages.failure());
      return reader.Entries(*languages, [&](const ResourceName& language, std::uint32_t leaf) {
        if (language.named) return Outcome<Done>(Failure{"a resource language is a name"});
        Outcome<ResourceData> data = reader.Data(leaf);
        if (!data) return Outcome<Done>(data.failure());
        if (!tree[type][name].emplace(language.id, std::move(*data)).second) {
          return Outcome<Done>(Failure{"a resource appears twice"});
        }
        return Outcome<Done>(Done{});
      });
    });
  });
  if (!read) return read.failure();
  return tree;
}

namespace {

template <typename Map>
std::pair<std::uint16_t, std::uint16_t> Counts(const Map& map) {
  std::uint16_t named = 0, ids = 0;
  for (const auto& [key, value] : map) (key.named ? named : ids)++;
  return {named, ids};
}

// Languages are ids.
std::pair<std::uint16_t, std::uint16_t> Counts(const ResourceLanguages& languages) {
  return {0, static_cast<std::uint16_t>(languages.size())};
}

// Where each part of the section starts: directories from 0, then the data entries, the name
// strings and the data held in memory; head is everything up to the end of that data.
struct SectionParts {
  std::uint64_t entriesAt = 0;
  std::uint64_t stringsAt = 0;
  std::uint64_t dataAt = 0;
  std::uint64_t headSize = 0;
};

Outcome<SectionParts> MeasureSection(const ResourceTree& tree) {
  std::uint64_t directories = 16 + 8 * tree.size();
  std::uint64_t leaves = 0;
  std::uint64_t strings = 0;
  if (tree.size() > kMaxEntries) return Failure{"too many resource types"};
  for (const auto& [type, names] : tree) {
    if (names.size() > kMaxEntries) return Failure{"too many resources of one type"};
    directories += 16 + 8 * names.size();
    if (type.named) strings += 2 + 2 * type.name.size();
    for (const auto& [name, languages] : names) {
      directories += 16 + 8 * languages.size();
      leaves += languages.size();
      if (name.named) strings += 2 + 2 * name.name.size();
    }
  }
  SectionParts parts;
  parts.entriesAt = directories;
  parts.stringsAt = parts.entriesAt + 16 * leaves;
  parts.dataAt = Align(parts.stringsAt + strings, 8);
  parts.headSize = parts.dataAt;
  for (const auto& [type, names] : tree) {
    for (const auto& [name, languages] : names) {
      for (const auto& [language, data] : languages) {
        if (!data.pageAligned) parts.headSize = Align(parts.headSize, 8) + data.Size();
      }
    }
  }
  if (parts.headSize > std::numeric_limits<std::uint32_t>::max()) {
    return Failure{"resources too large"};
  }
  return parts;
}

// Writes the section's tables into the layout's head, each part at its next free place.
// Characteristics, time stamps and versions of the directories stay zero: nothing reads them,
// and a stamp would make the output depend on the time of packaging.
class SectionWriter {
 public:
  SectionWriter(ResourceLayout& layout, const SectionParts& parts, std::uint32_t sectionRva)
      : layout_(layout),
        sectionRva_(sectionRva),
        nextEntry_(static_cast<std::size_t>(parts.entriesAt)),
        nextString_(static_cast<std::size_t>(parts.stringsAt)),
        nextSmall_(static_cast<std::size_t>(parts.dataAt)),
        nextLarge_(Align(parts.headSize, kPageSize)) {}

  // A directory of entries, its counts of named and id entries written; gives its offset.
  template <typename Map>
  std::size_t NewDirectory(const Map& map) {
    std::size_t at = nextDirectory_;
    nextDirectory_ += 16 + 8 * map.size();
    auto [named, ids] = Counts(map);
    WriteU16(layout_.head, at + 12, named);
    WriteU16(layout_.head, at + 14, ids);
    return at;
  }

  void Entry(std::size_t directory, std::size_t index, std::uint32_t nameField,
             std::uint32_t target) {
    WriteU32(layout_.head, directory + 16 + 8 * index, nameField);
    WriteU32(layout_.head, directory + 16 + 8 * index + 4, target);
  }

  std::uint32_t NameField(const ResourceName& n) {
    if (!n.named) return n.id;
    std::size_t at = nextString_;
    WriteU16(layout_.head, at, static_cast<std::uint16_t>(n.name.size()));
    for (std::size_t i = 0; i < n.name.size(); ++i) {
      WriteU16(layout_.head, at + 2 + 2 * i, static_cast<std::uint16_t>(n.name[i]));
    }
    nextString_ += 2 + 2 * n.name.size();
    return static_cast<std::uint32_t>(at) | kHighBit;
  }

  // The data of one language: placed, and described by a data entry; gives the entry's offset.
  Outcome<std::uint32_t> DataEntry(const ResourceData& data) {
    std::uint64_t offset;
    if (data.pageAligned) {
      offset = nextLarge_;
      layout_.placed.push_back({offset, &data});
      nextLarge_ = Align(offset + data.Size(), kPageSize);
    } else {
      std::size_t small = static_cast<std::size_t>(Align(nextSmall_, 8));
      const auto& bytes = std::get<std::vector<std::uint8_t>>(data.content);
      std::copy(bytes.begin(), bytes.end(), layout_.head.begin() + small);
      nextSmall_ = small + bytes.size();
      offset = small;
    }
    std::uint64_t rva = sectionRva_ + offset;
    if (rva + data.Size() > std::numeric_limits<std::uint32_t>::max()) {
      return Failure{"the resources do not fit into the 4 GiB a PE image can address"};
    }
    std::size_t at = nextEntry_;
    WriteU32(layout_.head, at, static_cast<std::uint32_t>(rva));
    WriteU32(layout_.head, at + 4, static_cast<std::uint32_t>(data.Size()));
    WriteU32(layout_.head, at + 8, data.codePage);
    nextEntry_ += 16;
    return static_cast<std::uint32_t>(at);
  }

 private:
  ResourceLayout& layout_;
  std::uint32_t sectionRva_;
  std::size_t nextDirectory_ = 0;
  std::size_t nextEntry_;
  std::size_t nextString_;
  std::size_t nextSmall_;
  std::uint64_t nextLarge_;
};

// The directories of one type's names, each followed by its languages' data entries.
Outcome<Done> WriteNames(SectionWriter& writer, std::size_t typeAt, const ResourceNames& names) {
  std::size_t n = 0;
  for (const auto& [name, languages] : names) {
    std::size_t at = writer.NewDirectory(languages);
    writer.Entry(typeAt, n++, writer.NameField(name), static_cast<std::uint32_t>(at) | kHighBit);
    std::size_t l = 0;
    for (const auto& [language, data] : languages) {
      Outcome<std::uint32_t> entry = writer.DataEntry(data);
      if (!entry) return entry.failure();
      writer.Entry(at, l++, language, *entry);
    }
  }
  return Done{};
}

}  // namespace

Outcome<ResourceLayout> LayOutResources(const ResourceTree& tree, std::uint32_t sectionRva) {
  Outcome<SectionParts> parts = MeasureSection(tree);
  if (!parts) return parts.failure();
  ResourceLayout layout;
  // From here on every offset into head fits in size_t.
  layout.head.assign(static_cast<std::size_t>(parts->headSize), 0);
  SectionWriter writer(layout, *parts, sectionRva);

  // Breadth first: the root, then every type's directory, then every name's directory.
  std::size_t root = writer.NewDirectory(tree);
  std::vector<std::size_t> typeDirectories;
  for (const auto& [type, names] : tree) {
    std::size_t at = writer.NewDirectory(names);
    writer.Entry(root, typeDirectories.size(), writer.NameField(type),
                 static_cast<std::uint32_t>(at) | kHighBit);
    typeDirectories.push_back(at);
  }
  std::size_t t = 0;
  for (const auto& [type, names] : tree) {
    if (Outcome<Done> written = WriteNames(writer, typeDirectories[t++], names); !written) {
      return written.failure();
    }
  }
  layout.size = layout.placed.empty()
                    ? parts->headSize
                    : layout.placed.back().offset + layout.placed.back().data->Size();
  return layout;
}

}  // namespace packer
