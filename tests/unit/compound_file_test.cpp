#include "tools/packer/compound_file.h"

#include <gtest/gtest.h>

#include "tests/unit/patch_fixtures.h"

namespace packer {
namespace {

using testing::Bytes;
using testing::MakePatch;
using testing::MakePatchShape;
using Type = DirectoryEntry::Type;

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) |
         (static_cast<uint32_t>(b[at + 3]) << 24);
}
void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::optional<CompoundFile> ReadOk(const std::vector<uint8_t>& bytes) {
  std::string error;
  std::optional<CompoundFile> file = CompoundFile::Read(bytes, error);
  EXPECT_TRUE(file) << error;
  return file;
}

// Every reachable entry of the shape comes back with its fields and contents.
void ExpectSameAsShape(const CompoundFile& file, const testing::PatchShape& shape) {
  ASSERT_EQ(file.entries().size() >= shape.entries.size(), true);
  EXPECT_EQ(file.root().classId, shape.entries[0].classId);
  for (uint32_t i = 1; i < 6; ++i) {
    const DirectoryEntry& want = shape.entries[i];
    const DirectoryEntry& got = file.entries()[i];
    SCOPED_TRACE(std::string(want.name.begin(), want.name.end()));
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.type, want.type);
    EXPECT_EQ(got.color, want.color);
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.right, want.right);
    EXPECT_EQ(got.child, want.child);
    EXPECT_EQ(got.classId, want.classId);
    EXPECT_EQ(got.stateBits, want.stateBits);
    EXPECT_EQ(got.created, want.created);
    EXPECT_EQ(got.modified, want.modified);
    if (want.type == Type::kStream) {
      EXPECT_EQ(file.StreamBytes(i), shape.contents.at(i));
    }
  }
  EXPECT_EQ(file.entries()[6].type, Type::kUnused);
  EXPECT_EQ(file.reachable().size(), 5u);
}

TEST(CompoundFile, WritesAndReadsBackEveryEntryInBothVersions) {
  for (const uint16_t version : {uint16_t{3}, uint16_t{4}}) {
    SCOPED_TRACE(version);
    const testing::PatchShape shape =
        MakePatchShape(testing::SummaryStream(testing::GoodSummary()));
    const std::vector<uint8_t> bytes =
        CompoundFile::FromEntries(shape.entries, shape.contents, version).Write();
    EXPECT_EQ(bytes[26], version);
    EXPECT_EQ(bytes.size() % (version == 3 ? 512 : 4096), 0u);
    const std::optional<CompoundFile> file = ReadOk(bytes);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->majorVersion(), version);
    ExpectSameAsShape(*file, shape);
    EXPECT_EQ(file->FindChild(1, u"Property"), 5u);
    EXPECT_EQ(file->FindChild(0, u"Property"), std::nullopt);  // inside T1 only
    EXPECT_EQ(file->FindChild(0, u"T1"), 1u);

    // Written again from what was read: the same file.
    EXPECT_EQ(file->Write(), bytes);
  }
}

TEST(CompoundFile, ListsAllocationSectorsPastTheHeaderInDifatSectors) {
  // 8 MB in 512-byte sectors needs 128 allocation table sectors, more than the header's 109.
  const testing::PatchShape shape =
      MakePatchShape(testing::SummaryStream(testing::GoodSummary()), testing::kPatchClass, 8 << 20);
  const std::vector<uint8_t> bytes =
      CompoundFile::FromEntries(shape.entries, shape.contents).Write();
  EXPECT_GT(Get32(bytes, 44), 109u);  // allocation table sectors
  EXPECT_EQ(Get32(bytes, 72), 1u);    // DIFAT sectors
  const std::optional<CompoundFile> file = ReadOk(bytes);
  ASSERT_TRUE(file);
  ExpectSameAsShape(*file, shape);
}

TEST(CompoundFile, MovesAReplacedStreamBetweenTheMiniStreamAndSectors) {
  const std::vector<uint8_t> original = MakePatch(testing::SummaryStream(testing::GoodSummary()));
  std::optional<CompoundFile> file = ReadOk(original);
  ASSERT_TRUE(file);
  struct Case {
    uint32_t entry;
    size_t size;
  };
  // The small "Property" grows past the cutoff; "Large" shrinks into the mini stream; a stream
  // becomes empty.
  for (const Case c : {Case{5, 5000}, Case{2, 100}, Case{3, 0}, Case{5, 4095}, Case{2, 4096}}) {
    SCOPED_TRACE(c.size);
    file->ReplaceStream(c.entry, Bytes(c.size, static_cast<uint8_t>(c.size)));
    const std::vector<uint8_t> written = file->Write();
    const std::optional<CompoundFile> back = ReadOk(written);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->StreamBytes(c.entry), Bytes(c.size, static_cast<uint8_t>(c.size)));
    EXPECT_EQ(back->StreamBytes(4), file->StreamBytes(4));
  }
}

// Offsets in the small file MakePatch writes: sector n at (n + 1) * 512; the allocation table in
// sector 0, the directory in sectors 1-2, the mini allocation table in 3, the mini stream in 4-5,
// "Large" (10000 bytes) in sectors 6-25.
constexpr size_t kFat = 512;
size_t FatEntry(uint32_t sector) { return kFat + 4 * sector; }
size_t DirectoryField(uint32_t entry, size_t field) { return 1024 + 128 * entry + field; }
constexpr size_t kStart = 116, kSize = 120, kLeft = 68, kRight = 72, kChild = 76;

TEST(CompoundFile, RefusesDamagedFilesWithTheirReason) {
  const std::vector<uint8_t> good = MakePatch(testing::SummaryStream(testing::GoodSummary()));
  ASSERT_EQ(Get32(good, FatEntry(6)), 7u) << "the layout these cases edit has changed";
  ASSERT_EQ(Get32(good, DirectoryField(2, kStart)), 6u);
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* reason;
  };
  const Case cases[] = {
      {"empty", [](auto& b) { b.clear(); }, "not a compound file"},
      {"random", [](auto& b) { b = Bytes(4096, 1); }, "not a compound file"},
      {"short", [](auto& b) { b.resize(300); }, "not a compound file"},
      {"byte order", [](auto& b) { b[28] = 0xFF; }, "byte order"},
      {"version", [](auto& b) { b[26] = 5; }, "unknown version 5"},
      {"truncated", [](auto& b) { b.resize(512 * 20); }, "sector 19, past the end of the file"},
      {"chain loop", [](auto& b) { Set32(b, FatEntry(10), 7); }, "a second time"},
      {"chain into itself", [](auto& b) { Set32(b, FatEntry(6), 6); }, "a second time"},
      {"free mark in chain", [](auto& b) { Set32(b, FatEntry(9), 0xFFFFFFFF); },
       "special sector mark"},
      {"chain ends early", [](auto& b) { Set32(b, FatEntry(9), 0xFFFFFFFE); }, "short of its size"},
      {"start out of range", [](auto& b) { Set32(b, DirectoryField(2, kStart), 5000); },
       "sector 5000"},
      {"start is the allocation table", [](auto& b) { Set32(b, DirectoryField(2, kStart), 0); },
       "a second time"},
      {"size beyond the file", [](auto& b) { Set32(b, DirectoryField(2, kSize), 0x7FFFFFFF); },
       "larger than the file"},
      {"directory chain loop", [](auto& b) { Set32(b, FatEntry(2), 1); }, "a second time"},
      {"directory out of range", [](auto& b) { Set32(b, 48, 70000); }, "sector 70000"},
      {"tree loop", [](auto& b) { Set32(b, DirectoryField(4, kRight), 2); }, "twice"},
      {"tree loop to itself", [](auto& b) { Set32(b, DirectoryField(5, kLeft), 5); }, "twice"},
      {"child loop to the root", [](auto& b) { Set32(b, DirectoryField(1, kChild), 0); }, "twice"},
      {"link out of range", [](auto& b) { Set32(b, DirectoryField(3, kRight), 1000); },
       "entry 1000"},
      {"link to an unused entry", [](auto& b) { Set32(b, DirectoryField(3, kRight), 6); },
       "neither a storage nor a stream"},
      {"no root", [](auto& b) { b[DirectoryField(0, 66)] = 1; }, "root entry"},
      {"allocation table larger than the file", [](auto& b) { Set32(b, 44, 1000); },
       "allocation table sectors"},
      {"allocation table sector out of range", [](auto& b) { Set32(b, 76, 900); }, "sector 900"},
      {"mini sector out of range", [](auto& b) { Set32(b, DirectoryField(4, kStart), 100); },
       "mini sector 100"},
      {"mini chain loop", [](auto& b) { Set32(b, 2048 + 4 * 1, 0); }, "mini sector 0 a second"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = good;
    c.damage(bytes);
    std::string error;
    EXPECT_FALSE(CompoundFile::Read(bytes, error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(CompoundFile, RefusesADifatChainThatEndsEarly) {
  // 60,000 bytes give 120 sectors, enough for a header that names 110 allocation table sectors.
  std::vector<uint8_t> bytes =
      MakePatch(testing::SummaryStream(testing::GoodSummary()), testing::kPatchClass, 60000);
  Set32(bytes, 44, 110);
  std::string error;
  EXPECT_FALSE(CompoundFile::Read(bytes, error));
  EXPECT_NE(error.find("DIFAT chain ends"), std::string::npos) << error;
  Set32(bytes, 72, 1);
  Set32(bytes, 68, 0xFFFFFFFD);
  EXPECT_FALSE(CompoundFile::Read(bytes, error));
  EXPECT_NE(error.find("DIFAT"), std::string::npos) << error;
}

// Every byte of the header, allocation tables and directory set to each of a few values: the
// reader either reads the file or gives a reason, and never reads out of bounds (ASan) or hangs.
TEST(CompoundFile, SurvivesEveryByteOfItsStructuresDamaged) {
  const std::vector<uint8_t> good = MakePatch(testing::SummaryStream(testing::GoodSummary()));
  size_t refused = 0;
  std::vector<size_t> offsets;
  // The header's fields and first DIFAT entries, the allocation table's used entries, the
  // directory's seven entries, the mini allocation table.
  for (const auto& [from, to] : {std::pair<size_t, size_t>{0, 84},
                                 {512, 512 + 4 * 27},
                                 {1024, 1024 + 128 * 7},
                                 {2048, 2048 + 4 * 12}}) {
    for (size_t at = from; at < to; ++at) offsets.push_back(at);
  }
  for (const size_t at : offsets) {
    for (const uint8_t value : std::initializer_list<uint8_t>{0x00, 0xFF}) {
      std::vector<uint8_t> bytes = good;
      bytes[at] = value;
      std::string error;
      std::optional<CompoundFile> file = CompoundFile::Read(bytes, error);
      if (!file) {
        EXPECT_FALSE(error.empty());
        ++refused;
        continue;
      }
      for (uint32_t index : file->reachable()) {
        if (file->entries()[index].type == Type::kStream) {
          EXPECT_EQ(file->StreamBytes(index).size(), file->entries()[index].size);
        }
      }
      std::string again;
      EXPECT_TRUE(CompoundFile::Read(file->Write(), again)) << again;
    }
  }
  EXPECT_GT(refused, offsets.size() / 4);
}

}  // namespace
}  // namespace packer
