// The packer's image writer on small synthetic stubs: every output is read back with a resource
// walker and a lookup written here, independently of the writer.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/unit/patch_fixtures.h"
#include "tools/packer/package.h"
#include "tools/packer/payload_file.h"

namespace packer {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  std::minstd_rand random(seed);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

ResourceData InMemory(Bytes bytes, std::uint32_t codePage = 0) {
  ResourceData data;
  data.content = std::move(bytes);
  data.codePage = codePage;
  return data;
}

// A PE32 stub: .text, .rsrc holding tree, and a section behind it (".reloc" unless told).
struct StubSpec {
  std::uint32_t fileAlignment = 0x1000;
  std::string afterResources = ".reloc";  // empty: none
  Bytes trailing;                         // bytes behind the last section
};

constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::size_t kOptionalAt = 64 + 4 + 20;
constexpr std::size_t kDirectoriesAt = kOptionalAt + 96;
constexpr std::size_t kSectionsAt = kOptionalAt + 224;

Bytes MakeStub(const ResourceTree& tree, const StubSpec& spec = {}) {
  struct Raw {
    std::string name;
    Bytes data;
    std::uint32_t characteristics;
  };
  std::vector<Raw> sections = {{".text", Pattern(0x2345, 1), 0x60000020}};
  const std::uint32_t rsrcRva = 0x4000;
  Outcome<ResourceLayout> layout = LayOutResources(tree, rsrcRva);
  EXPECT_TRUE(layout.ok());
  sections.push_back({".rsrc", layout->head, 0xC0000040});
  if (!spec.afterResources.empty()) {
    sections.push_back({spec.afterResources, Pattern(0x1F4, 2), 0x42000040});
  }
  const std::uint32_t a = spec.fileAlignment;
  Bytes image(AlignUp(kSectionsAt + 40 * sections.size(), a), 0);
  image[0] = 'M', image[1] = 'Z';
  WriteU32(image, 60, 64);
  image[64] = 'P', image[65] = 'E';
  WriteU16(image, 68, 0x14C);
  WriteU16(image, 70, static_cast<std::uint16_t>(sections.size()));
  WriteU32(image, 72, 0x12345678);  // a link time stamp, kept
  WriteU16(image, 84, 224);
  WriteU16(image, 86, 0x0102);
  WriteU16(image, kOptionalAt, 0x10B);
  WriteU32(image, kOptionalAt + 28, 0x400000);
  WriteU32(image, kOptionalAt + 32, kSectionAlignment);
  WriteU32(image, kOptionalAt + 36, a);
  WriteU32(image, kOptionalAt + 60, static_cast<std::uint32_t>(image.size()));
  WriteU16(image, kOptionalAt + 68, 2);
  WriteU32(image, kOptionalAt + 92, 16);
  std::uint32_t rva = 0x1000;
  std::uint32_t initialized = 0;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    if (sections[i].name == ".rsrc") {
      EXPECT_EQ(rva, rsrcRva);
    }
    std::size_t at = kSectionsAt + 40 * i;
    std::copy(sections[i].name.begin(), sections[i].name.end(), image.begin() + at);
    std::uint32_t size = static_cast<std::uint32_t>(sections[i].data.size());
    std::uint32_t raw = static_cast<std::uint32_t>(AlignUp(size, a));
    WriteU32(image, at + 8, size);
    WriteU32(image, at + 12, rva);
    WriteU32(image, at + 16, raw);
    WriteU32(image, at + 20, static_cast<std::uint32_t>(image.size()));
    WriteU32(image, at + 36, sections[i].characteristics);
    if (sections[i].characteristics & kScnInitializedData) initialized += raw;
    if (sections[i].name == ".rsrc") {
      WriteU32(image, kDirectoriesAt + 8 * kResourceDirectory, rva);
      WriteU32(image, kDirectoriesAt + 8 * kResourceDirectory + 4, size);
    } else if (sections[i].name == ".reloc") {
      WriteU32(image, kDirectoriesAt + 8 * kBaseRelocationDirectory, rva + 4);
      WriteU32(image, kDirectoriesAt + 8 * kBaseRelocationDirectory + 4, size - 4);
    }
    sections[i].data.resize(raw, 0);
    image.insert(image.end(), sections[i].data.begin(), sections[i].data.end());
    rva += static_cast<std::uint32_t>(AlignUp(size, kSectionAlignment));
  }
  WriteU32(image, kOptionalAt + 8, initialized);
  WriteU32(image, kOptionalAt + 56, rva);
  image.insert(image.end(), spec.trailing.begin(), spec.trailing.end());
  return image;
}

// The stub's usual resources: icons, string tables in two languages, a manifest.
ResourceTree StubResources() {
  ResourceTree tree;
  tree[ResourceName::Id(3)][ResourceName::Id(1)].emplace(1033, InMemory(Pattern(301, 3)));
  tree[ResourceName::Id(3)][ResourceName::Id(2)].emplace(1033, InMemory(Pattern(77, 4)));
  tree[ResourceName::Id(6)][ResourceName::Id(20)].emplace(1049, InMemory(Pattern(90, 5), 1251));
  tree[ResourceName::Id(6)][ResourceName::Id(20)].emplace(1033, InMemory(Pattern(91, 6)));
  tree[ResourceName::Id(14)][ResourceName::Id(319)].emplace(1033, InMemory(Pattern(34, 7)));
  tree[ResourceName::Id(24)][ResourceName::Id(1)].emplace(1033, InMemory(Pattern(513, 8)));
  return tree;
}

Payload MemoryPayload(std::u16string_view name, std::uint16_t language, Bytes bytes) {
  return {ResourceName::Text(name), language, InMemory(std::move(bytes))};
}

Outcome<Bytes> Package(const Bytes& stub, std::vector<Payload> payloads) {
  Outcome<PeImage> image = ParsePe(stub);
  if (!image) return image.failure();
  Outcome<std::unique_ptr<packer::Package>> plan =
      PlanUpdate(std::move(*image), std::move(payloads));
  if (!plan) return plan.failure();
  std::stringstream out;
  Outcome<Done> written = WriteUpdate(**plan, out);
  if (!written) return written.failure();
  std::string text = out.str();
  return Bytes(text.begin(), text.end());
}

// ------------------------------------------------------------------ reading the output back

// One stored entry as the walker finds it, in stored order.
struct Entry {
  bool named;
  std::u16string name;
  std::uint32_t id;
};

struct Found {
  std::uint32_t rva;
  std::uint32_t size;
  std::uint32_t codePage;
  Bytes bytes;
};

// Walks the resource directory of an image as a reader on Windows would.
class Walker {
 public:
  explicit Walker(const Bytes& file) : file_(file) {
    Outcome<PeImage> image = ParsePe(file);
    EXPECT_TRUE(image.ok());
    image_ = std::move(*image);
    DataDirectory d = image_.Directory(kResourceDirectory);
    section_ = image_.SectionAt(d.virtualAddress);
  }

  const PeImage& image() const { return image_; }

  std::uint32_t At(std::uint32_t sectionOffset) const {
    return section_->pointerToRawData + sectionOffset;
  }

  // The entries of a directory, checking its counts of named and id entries.
  std::vector<std::pair<Entry, std::uint32_t>> Entries(std::uint32_t directory) const {
    std::uint16_t named = ReadU16(file_, At(directory) + 12);
    std::uint16_t ids = ReadU16(file_, At(directory) + 14);
    std::vector<std::pair<Entry, std::uint32_t>> entries;
    for (std::uint32_t i = 0; i < std::uint32_t{named} + ids; ++i) {
      std::uint32_t field = ReadU32(file_, At(directory) + 16 + 8 * i);
      std::uint32_t target = ReadU32(file_, At(directory) + 20 + 8 * i);
      Entry e{(field & 0x80000000u) != 0, {}, field};
      if (e.named) {
        std::uint32_t s = At(field & 0x7FFFFFFF);
        for (std::uint16_t c = 0; c < ReadU16(file_, s); ++c) {
          e.name += static_cast<char16_t>(ReadU16(file_, s + 2 + 2 * c));
        }
      }
      EXPECT_EQ(e.named, i < named) << "named entries come first, and are counted as named";
      entries.push_back({e, target});
    }
    return entries;
  }

  // The lookup of the loader: a binary search, the searched name upper-cased and compared code
  // unit by code unit with the stored one; ids compared as numbers.
  std::optional<std::uint32_t> Lookup(std::uint32_t directory, const ResourceName& key) const {
    auto entries = Entries(directory);
    std::u16string upper = key.name;
    for (auto& c : upper) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    std::size_t named = ReadU16(file_, At(directory) + 12);
    std::ptrdiff_t lo = key.named ? 0 : static_cast<std::ptrdiff_t>(named);
    std::ptrdiff_t hi = key.named ? static_cast<std::ptrdiff_t>(named) - 1
                                  : static_cast<std::ptrdiff_t>(entries.size()) - 1;
    while (lo <= hi) {
      std::ptrdiff_t mid = (lo + hi) / 2;
      const Entry& e = entries[mid].first;
      int order = key.named ? upper.compare(e.name) : (key.id < e.id ? -1 : key.id > e.id);
      if (order == 0) return entries[mid].second;
      (order < 0 ? hi : lo) = order < 0 ? mid - 1 : mid + 1;
    }
    return std::nullopt;
  }

  std::optional<Found> Find(const ResourceName& type, const ResourceName& name,
                            std::uint16_t language) const {
    auto names = Lookup(0, type);
    if (!names) return std::nullopt;
    auto languages = Lookup(*names & 0x7FFFFFFF, name);
    if (!languages) return std::nullopt;
    auto leaf = Lookup(*languages & 0x7FFFFFFF, ResourceName::Id(language));
    if (!leaf) return std::nullopt;
    Found f{ReadU32(file_, At(*leaf)),
            ReadU32(file_, At(*leaf) + 4),
            ReadU32(file_, At(*leaf) + 8),
            {}};
    auto bytes = image_.AtRva(f.rva, f.size);
    EXPECT_TRUE(bytes.has_value()) << "data inside the resource section's file data";
    if (bytes) f.bytes.assign(bytes->begin(), bytes->end());
    return f;
  }

 private:
  const Bytes& file_;
  PeImage image_;
  const Section* section_ = nullptr;
};

// The checksum as Windows documents it, one word at a time.
std::uint32_t ReferenceCheckSum(Bytes file, std::size_t checkSumAt) {
  WriteU32(file, checkSumAt, 0);
  if (file.size() % 2) file.push_back(0);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < file.size(); i += 2) {
    sum += ReadU16(file, i);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return sum + static_cast<std::uint32_t>(file.size());
}

// ------------------------------------------------------------------------------------ tests

TEST(Packer, EveryResourceIsFoundByTheLoadersLookupWhateverTheOrderGiven) {
  // Names stored upper-case, as resource compilers store them, whose order differs when folded to
  // lower case ('_' lies between the upper and the lower case letters), prefixes of one another,
  // and ids.
  ResourceTree tree = StubResources();
  const std::u16string names[] = {u"IDR_MSP_PS", u"IDR_MSPX", u"IDR_MSP", u"IDR9", u"IDR_MSP_LP"};
  std::uint8_t seed = 20;
  for (const auto& name : names) {
    tree[ResourceName::Text(u"CUSTOM")][ResourceName::Text(name)].emplace(
        0, InMemory(Pattern(40 + seed, seed)));
    ++seed;
  }
  tree[ResourceName::Text(u"CUSTOM")][ResourceName::Id(7)].emplace(0, InMemory(Pattern(9, 1)));
  tree[ResourceName::Text(u"ALPHA")][ResourceName::Id(1)].emplace(0, InMemory(Pattern(9, 2)));
  Bytes stub = MakeStub(tree);

  Outcome<Bytes> update = Package(stub, {MemoryPayload(u"IDR_MSP_PS", 0, Pattern(5000, 30)),
                                         MemoryPayload(u"IDR_MSP", 1033, Pattern(6000, 31)),
                                         MemoryPayload(u"IDR_MSP_LP", 0, Pattern(7000, 32))});
  ASSERT_TRUE(update.ok()) << update.error();
  Walker walker(*update);

  // Stored order: named first, case-insensitively sorted, then ids ascending.
  std::vector<std::u16string> types;
  for (const auto& [e, target] : walker.Entries(0)) types.push_back(e.named ? e.name : u"#");
  EXPECT_EQ(types,
            (std::vector<std::u16string>{u"ALPHA", u"CUSTOM", u"MSP", u"#", u"#", u"#", u"#"}));

  seed = 20;
  for (const auto& name : names) {
    std::u16string lower = name;
    for (auto& c : lower) c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    for (const std::u16string& spelled : {name, lower}) {
      auto found = walker.Find(ResourceName::Text(u"custom"), ResourceName::Text(spelled), 0);
      ASSERT_TRUE(found) << std::string(name.begin(), name.end());
      EXPECT_EQ(found->bytes, Pattern(40 + seed, seed));
    }
    ++seed;
  }
  EXPECT_TRUE(walker.Find(ResourceName::Text(u"Custom"), ResourceName::Id(7), 0));
  for (const auto& [type, byName] : StubResources()) {
    for (const auto& [name, languages] : byName) {
      for (const auto& [language, data] : languages) {
        auto found = walker.Find(type, name, language);
        ASSERT_TRUE(found) << type.Describe() << "/" << name.Describe() << "/" << language;
        EXPECT_EQ(found->bytes, std::get<Bytes>(data.content));
        EXPECT_EQ(found->codePage, data.codePage);
      }
    }
  }
  const struct {
    std::u16string name;
    std::uint16_t language;
    Bytes bytes;
  } payloads[] = {{u"IDR_MSP", 1033, Pattern(6000, 31)},
                  {u"IDR_MSP_LP", 0, Pattern(7000, 32)},
                  {u"IDR_MSP_PS", 0, Pattern(5000, 30)}};
  for (const auto& p : payloads) {
    auto found = walker.Find(ResourceName::Text(u"msp"), ResourceName::Text(p.name), p.language);
    ASSERT_TRUE(found) << std::string(p.name.begin(), p.name.end());
    EXPECT_EQ(found->bytes, p.bytes);
  }
}

TEST(Packer, PayloadsArePageAlignedAndTheHeadersDescribeTheNewLayout) {
  for (std::uint32_t fileAlignment : {0x1000u, 0x200u}) {
    SCOPED_TRACE(fileAlignment);
    Bytes stub = MakeStub(StubResources(), {fileAlignment, ".reloc", {}});
    PeImage before = *ParsePe(stub);
    // Odd sizes, so that each payload's end is not aligned.
    Outcome<Bytes> update = Package(stub, {MemoryPayload(u"IDR_MSP", 1033, Pattern(0x3001, 40)),
                                           MemoryPayload(u"IDR_MSP_PS", 0, Pattern(0x11, 41))});
    ASSERT_TRUE(update.ok()) << update.error();
    Walker walker(*update);
    const PeImage& after = walker.image();
    ASSERT_EQ(after.sections.size(), before.sections.size());

    for (const char16_t* name : {u"IDR_MSP", u"IDR_MSP_PS"}) {
      auto found = walker.Find(ResourceName::Text(u"MSP"), ResourceName::Text(name),
                               name == std::u16string(u"IDR_MSP") ? 1033 : 0);
      ASSERT_TRUE(found);
      EXPECT_EQ(found->rva % 0x1000, 0u);
      const Section& rsrc = *after.SectionAt(found->rva);
      std::uint32_t fileOffset = rsrc.pointerToRawData + (found->rva - rsrc.virtualAddress);
      EXPECT_EQ(fileOffset % fileAlignment, 0u) << "payloads start at the file's alignment";
    }

    std::uint64_t initialized = 0;
    std::uint32_t nextRva = after.sections[0].virtualAddress;
    std::uint32_t nextFile = after.sections[0].pointerToRawData;
    for (const Section& s : after.sections) {
      EXPECT_EQ(s.virtualAddress, nextRva) << s.name << " follows the previous section";
      EXPECT_EQ(s.pointerToRawData, nextFile) << s.name;
      EXPECT_EQ(s.sizeOfRawData % fileAlignment, 0u) << s.name;
      EXPECT_GE(s.sizeOfRawData, s.virtualSize) << s.name;
      nextRva = static_cast<std::uint32_t>(AlignUp(s.virtualAddress + s.virtualSize, 0x1000));
      nextFile = s.pointerToRawData + s.sizeOfRawData;
      if (s.characteristics & kScnInitializedData) initialized += s.sizeOfRawData;
    }
    EXPECT_EQ(update->size(), nextFile) << "nothing behind the last section";
    EXPECT_EQ(ReadU32(*update, after.SizeOfImageOffset()), nextRva);
    EXPECT_EQ(ReadU32(*update, after.SizeOfInitializedDataOffset()), initialized);
    EXPECT_EQ(after.Directory(kResourceDirectory).virtualAddress, 0x4000u);
    EXPECT_EQ(after.Directory(kResourceDirectory).size, after.sections[1].virtualSize);

    // The relocations moved behind the grown resources, unchanged, and their directory with them.
    const Section& oldReloc = before.sections[2];
    const Section& newReloc = after.sections[2];
    EXPECT_GT(newReloc.virtualAddress, oldReloc.virtualAddress);
    DataDirectory relocations = after.Directory(kBaseRelocationDirectory);
    EXPECT_EQ(relocations.virtualAddress, newReloc.virtualAddress + 4);
    EXPECT_EQ(relocations.size, before.Directory(kBaseRelocationDirectory).size);
    auto moved = *after.AtRva(newReloc.virtualAddress, newReloc.virtualSize);
    auto original = *before.AtRva(oldReloc.virtualAddress, oldReloc.virtualSize);
    EXPECT_EQ(Bytes(moved.begin(), moved.end()), Bytes(original.begin(), original.end()));
    // The code and the headers other than the fixed fields are the stub's.
    std::uint32_t code = before.sections[0].pointerToRawData;
    EXPECT_TRUE(
        std::equal(stub.begin() + code, stub.begin() + code + 0x2345, update->begin() + code));
    EXPECT_EQ(ReadU32(*update, 72), 0x12345678u) << "the stub's time stamp";
  }
}

TEST(Packer, CheckSumIsWindowsOwnAlsoWhenPiecesEndOddOrTheSumCarries) {
  const std::size_t sizes[] = {1, 2, 3, 0x1001, 0x12345};
  for (std::size_t size : sizes) {
    for (std::uint8_t fill : {std::uint8_t{0xFF}, std::uint8_t{0x00}}) {
      SCOPED_TRACE(::testing::Message() << size << " bytes of " << int(fill));
      Bytes payload = fill ? Bytes(size, fill) : Pattern(size, 50);
      Outcome<Bytes> update = Package(MakeStub(StubResources()),
                                      {MemoryPayload(u"IDR_MSP", 1033, payload),
                                       MemoryPayload(u"IDR_MSP_LP", 0, Pattern(size + 1, 51))});
      ASSERT_TRUE(update.ok()) << update.error();
      std::size_t at = ParsePe(*update)->CheckSumOffset();
      EXPECT_EQ(ReadU32(*update, at), ReferenceCheckSum(*update, at));
    }
  }
  // Summing in pieces at even offsets gives the sum of the whole.
  Bytes data = Pattern(10001, 60);
  CheckSum whole, pieces;
  whole.Add(data);
  pieces.Add(std::span(data).first(6));
  pieces.Add(std::span(data).subspan(6, 4094));
  pieces.Add(std::span(data).subspan(4100));
  EXPECT_EQ(pieces.Finish(data.size()), whole.Finish(data.size()));
}

TEST(Packer, PayloadsOfAStubThatCarriesSomeReplaceThemAll) {
  ResourceTree tree = StubResources();
  tree[ResourceName::Text(u"MSP")][ResourceName::Text(u"IDR_MSP")].emplace(
      1033, InMemory(Pattern(3000, 70)));
  tree[ResourceName::Text(u"MSP")][ResourceName::Text(u"IDR_MSP_LP")].emplace(
      0, InMemory(Pattern(3000, 71)));
  tree[ResourceName::Text(u"MSP")][ResourceName::Text(u"IDR_MSP")].emplace(
      0, InMemory(Pattern(3000, 72)));
  Bytes stub = MakeStub(tree);

  Outcome<Bytes> update = Package(stub, {MemoryPayload(u"IDR_MSP_PS", 0, Pattern(2000, 73)),
                                         MemoryPayload(u"IDR_MSP", 1033, Pattern(2100, 74))});
  ASSERT_TRUE(update.ok()) << update.error();
  Walker walker(*update);
  auto types = walker.Entries(0);
  ASSERT_EQ(types.front().first.name, u"MSP");
  std::vector<std::u16string> names;
  for (const auto& [e, target] : walker.Entries(types.front().second & 0x7FFFFFFF)) {
    names.push_back(e.name);
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"IDR_MSP", u"IDR_MSP_PS"}));
  const ResourceName msp = ResourceName::Text(u"MSP");
  EXPECT_EQ(walker.Find(msp, ResourceName::Text(u"IDR_MSP"), 1033)->bytes, Pattern(2100, 74));
  EXPECT_FALSE(walker.Find(msp, ResourceName::Text(u"IDR_MSP"), 0)) << "the old neutral one";
  EXPECT_EQ(walker.Find(msp, ResourceName::Text(u"IDR_MSP_PS"), 0)->bytes, Pattern(2000, 73));
  auto manifest = walker.Find(ResourceName::Id(24), ResourceName::Id(1), 1033);
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->bytes, Pattern(513, 8));

  // Packaging the update again with the same payloads gives the same file.
  Outcome<Bytes> again = Package(*update, {MemoryPayload(u"IDR_MSP_PS", 0, Pattern(2000, 73)),
                                           MemoryPayload(u"IDR_MSP", 1033, Pattern(2100, 74))});
  ASSERT_TRUE(again.ok()) << again.error();
  EXPECT_EQ(*again, *update);
}

TEST(Packer, RefusesStubsItCannotRebuildSafely) {
  struct Case {
    const char* what;
    StubSpec spec;
    const char* message;
  };
  const Case cases[] = {
      {"a section other than relocations behind the resources", {0x1000, ".data", {}}, ".data"},
      {"data behind the last section", {0x1000, ".reloc", Pattern(0x1800, 80)}, "behind"},
  };
  for (const Case& c : cases) {
    Outcome<Bytes> update =
        Package(MakeStub(StubResources(), c.spec), {MemoryPayload(u"IDR_MSP", 1033, {1, 2})});
    ASSERT_FALSE(update.ok()) << c.what;
    EXPECT_NE(update.error().find(c.message), std::string::npos) << update.error();
  }
  Outcome<Bytes> empty = Package(MakeStub(StubResources()), {MemoryPayload(u"IDR_MSP", 0, {})});
  EXPECT_FALSE(empty.ok());
  Outcome<PeImage> notPe = ParsePe(Pattern(4096, 81));
  EXPECT_FALSE(notPe.ok());
}

TEST(Packer, StreamsPayloadFilesAndNoticesOneThatChangedSize) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("packer-test-" + std::to_string(::getpid()));
  Bytes contents = Pattern(3 * (1 << 20) + 5, 90);  // more than one read
  auto writeFile = [&](const Bytes& bytes) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  };
  writeFile(contents);
  auto plan = [&](std::uint64_t size) {
    Payload payload{ResourceName::Text(u"IDR_MSP"), 1033, {}};
    payload.data.content = FileContent{file, size};
    return PlanUpdate(*ParsePe(MakeStub(StubResources())), {payload});
  };
  auto planned = plan(contents.size());
  ASSERT_TRUE(planned.ok()) << planned.error();
  std::stringstream out;
  ASSERT_TRUE(WriteUpdate(**planned, out).ok());
  std::string text = out.str();
  Bytes update(text.begin(), text.end());
  Walker walker(update);
  EXPECT_EQ(walker.Find(ResourceName::Text(u"MSP"), ResourceName::Text(u"IDR_MSP"), 1033)->bytes,
            contents);
  std::size_t at = walker.image().CheckSumOffset();
  EXPECT_EQ(ReadU32(update, at), ReferenceCheckSum(update, at));

  for (std::int64_t change : {-1, +1}) {
    auto stale = plan(contents.size() - change);
    ASSERT_TRUE(stale.ok());
    std::stringstream sink;
    Outcome<Done> written = WriteUpdate(**stale, sink);
    EXPECT_FALSE(written.ok()) << change;
  }
  std::filesystem::remove(file);
}

// A payload file that changes after the packer looked at it, keeping its size (a build step still
// writing it, say). Checked, the update carries the bytes that passed the check; unchecked, the
// file is read when the update is written, so the change shows: the control for the test's
// mechanics.
TEST(Packer, AFileThatChangesAfterItsCheckCannotReachTheUpdateUnchecked) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("packer-payload-" + std::to_string(::getpid()) + ".msp");
  auto writeFile = [&](const Bytes& bytes) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  };
  const Bytes patch = testing::MakePatch(testing::SummaryStream(testing::GoodSummary()));
  writeFile(patch);
  const updater::PayloadKind& kind = updater::kPayloadKinds[0];  // --global
  std::ostringstream warnings;
  Outcome<Payload> checked = LoadPayload(kind, file, true, std::nullopt, warnings);
  Outcome<Payload> unchecked = LoadPayload(kind, file, false, std::nullopt, warnings);
  ASSERT_TRUE(checked.ok()) << checked.error();
  ASSERT_TRUE(unchecked.ok()) << unchecked.error();
  EXPECT_EQ(warnings.str(), "");

  const Bytes changed(patch.size(), 0x5A);
  writeFile(changed);
  for (auto [payload, carried] : {std::pair{&*checked, &patch}, std::pair{&*unchecked, &changed}}) {
    auto planned = PlanUpdate(*ParsePe(MakeStub(StubResources())), {*payload});
    ASSERT_TRUE(planned.ok()) << planned.error();
    std::stringstream out;
    ASSERT_TRUE(WriteUpdate(**planned, out).ok());
    const std::string text = out.str();
    const Bytes update(text.begin(), text.end());
    EXPECT_EQ(Walker(update)
                  .Find(ResourceName::Text(u"MSP"), ResourceName::Text(u"IDR_MSP"), 1033)
                  ->bytes,
              *carried);
  }
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace packer
