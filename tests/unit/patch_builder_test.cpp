// The patch builder's written fields against Microsoft's documentation (Wine reads the validation
// flags from the other half of property 16 and ignores patch sequencing, so a patch Wine applies
// proves neither), and its database and transform formats read back by its own reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/packer/compound_file.h"
#include "tools/packer/summary_information.h"
#include "tools/patch_builder/database_writer.h"
#include "tools/patch_builder/msi_database.h"
#include "tools/patch_builder/property_set.h"
#include "tools/patch_builder/storage_writer.h"
#include "tools/patch_builder/table_difference.h"
#include "tools/patch_builder/transform_summary.h"
#include "tools/patch_builder/transform_writer.h"

namespace patch_builder {
namespace {

packer::SummaryInformation Parsed(const std::vector<uint8_t>& stream) {
  std::string error;
  auto summary = packer::SummaryInformation::Parse(stream, error);
  EXPECT_TRUE(summary) << error;
  return summary ? *summary : packer::SummaryInformation{};
}

// The MSITRANSFORM_VALIDATE_* and MSITRANSFORM_ERROR_* values of MsiCreateTransformSummaryInfo's
// page, and what a patch's transform sets.
TEST(TransformSummary, FlagsAreTheDocumentedValues) {
  struct Flag {
    const char* name;
    uint16_t value;
    uint16_t documented;
  };
  using namespace transform_flags;
  const Flag flags[] = {
      {"MSITRANSFORM_VALIDATE_LANGUAGE", kValidateLanguage, 0x0001},
      {"MSITRANSFORM_VALIDATE_PRODUCT", kValidateProduct, 0x0002},
      {"MSITRANSFORM_VALIDATE_PLATFORM", kValidatePlatform, 0x0004},
      {"MSITRANSFORM_VALIDATE_MAJORVERSION", kValidateMajorVersion, 0x0008},
      {"MSITRANSFORM_VALIDATE_MINORVERSION", kValidateMinorVersion, 0x0010},
      {"MSITRANSFORM_VALIDATE_UPDATEVERSION", kValidateUpdateVersion, 0x0020},
      {"MSITRANSFORM_VALIDATE_NEWEQUALBASEVERSION", kValidateNewEqualBaseVersion, 0x0100},
      {"MSITRANSFORM_VALIDATE_UPGRADECODE", kValidateUpgradeCode, 0x0800},
      {"MSITRANSFORM_ERROR_ADDEXISTINGROW", kErrorAddExistingRow, 0x0001},
      {"MSITRANSFORM_ERROR_DELMISSINGROW", kErrorDeleteMissingRow, 0x0002},
      {"MSITRANSFORM_ERROR_ADDEXISTINGTABLE", kErrorAddExistingTable, 0x0004},
      {"MSITRANSFORM_ERROR_DELMISSINGTABLE", kErrorDeleteMissingTable, 0x0008},
      {"MSITRANSFORM_ERROR_UPDATEMISSINGROW", kErrorUpdateMissingRow, 0x0010},
      {"MSITRANSFORM_ERROR_CHANGECODEPAGE", kErrorChangeCodePage, 0x0020},
  };
  for (const Flag& f : flags) EXPECT_EQ(f.value, f.documented) << f.name;
}

TEST(TransformSummary, FieldsAsDocumented) {
  TransformIdentity t;
  t.oldTemplate = "x64;1033";
  t.newTemplate = "x64;1031";
  t.oldProductCode = "{11111111-1111-1111-1111-111111111111}";
  t.oldVersion = "1.0.0";
  t.newProductCode = t.oldProductCode;
  t.newVersion = "1.1.0";
  t.upgradeCode = "{22222222-2222-2222-2222-222222222222}";
  t.pageCount = 300;
  const std::vector<uint8_t> stream = TransformSummary(t);
  const packer::SummaryInformation s = Parsed(stream);
  // Template: the target's platform and language; Last Saved By: after the transform.
  EXPECT_EQ(s.Text(pid::kTemplate), "x64;1033");
  EXPECT_EQ(s.Text(pid::kLastSavedBy), "x64;1031");
  // Revision Number: old code and version; new code and version; upgrade code.
  EXPECT_EQ(s.Text(pid::kRevisionNumber),
            "{11111111-1111-1111-1111-111111111111}1.0.0;"
            "{11111111-1111-1111-1111-111111111111}1.1.0;"
            "{22222222-2222-2222-2222-222222222222}");
  // Page Count: the larger of the two databases' values.
  EXPECT_EQ(SummaryInteger(stream, pid::kPageCount), 300);
  // Character Count: the validation flags in the upper word, the error conditions in the lower.
  const auto count = SummaryInteger(stream, pid::kCharacterCount);
  ASSERT_TRUE(count);
  const uint32_t value = static_cast<uint32_t>(*count);
  using namespace transform_flags;
  EXPECT_EQ(value >> 16, kValidateProduct | kValidateUpgradeCode | kValidateUpdateVersion |
                             kValidateNewEqualBaseVersion);
  EXPECT_EQ(value & 0xFFFF, kErrorAddExistingRow | kErrorDeleteMissingRow |
                                kErrorDeleteMissingTable | kErrorUpdateMissingRow);
  // Wine reads the lower word as the validation flags: language, product, major and minor
  // version, each of which Wine checks and a patch's target passes.
  EXPECT_EQ(value & 0xFFFF,
            kValidateLanguage | kValidateProduct | kValidateMajorVersion | kValidateMinorVersion);
}

TEST(PatchSummary, FieldsAsDocumentedAndTheUpdatersVersions) {
  PatchIdentity p;
  p.patchCode = "{33333333-3333-3333-3333-333333333333}";
  p.targetProductCodes = {"{11111111-1111-1111-1111-111111111111}",
                          "{44444444-4444-4444-4444-444444444444}"};
  p.transformNames = {"T1", "#T1", "T2", "#T2"};
  p.newVersion = "1.2.0";
  p.oldVersions = {"1.0.0", "1.1.0"};
  p.displayName = "Sample 1.2.0";
  const std::vector<uint8_t> stream = PatchSummary(p);
  const packer::SummaryInformation s = Parsed(stream);
  EXPECT_EQ(s.Text(pid::kTemplate),
            "{11111111-1111-1111-1111-111111111111};{44444444-4444-4444-4444-444444444444}");
  EXPECT_EQ(s.Text(pid::kLastSavedBy), ":T1;:#T1;:T2;:#T2");
  EXPECT_EQ(s.Text(pid::kRevisionNumber), p.patchCode);
  EXPECT_EQ(s.Text(pid::kKeywords), "1.2.0;1.0.0,1.1.0");
  EXPECT_NE(s.Text(pid::kTitle)->find("Patch"), std::string::npos);
  // Page Count and Character Count are null in a patch package.
  EXPECT_FALSE(s.Type(pid::kPageCount));
  EXPECT_FALSE(s.Type(pid::kCharacterCount));
}

std::vector<uint8_t> DatabaseBytes(const std::vector<Table>& tables) {
  Storage storage;
  storage.classId = ClassIdFromText("{000C1084-0000-0000-C000-000000000046}");
  WriteDatabaseTables(storage, 1252, tables);
  return WriteCompoundFile(std::move(storage));
}

const Table kProperty{"Property",
                      {{"Property", kTypeValid | kTypeString | kTypeKey | 72},
                       {"Value", kTypeValid | kTypeString | kTypeLocalizable}},
                      {{Value::Text("ProductVersion"), Value::Text("1.0.0")},
                       {Value::Text("ProductCode"), Value::Text("{A}")}}};
const Table kNumbers{"Numbers",
                     {{"Id", kTypeValid | kTypeKey | 2},
                      {"Big", kTypeValid | kTypeNullable | 4},
                      {"Name", kTypeValid | kTypeString | kTypeNullable | 20}},
                     {{Value::Integer(-3), Value::Integer(-2000000000), Value::Null()},
                      {Value::Integer(7), Value::Null(), Value::Text("seven")}}};

TEST(DatabaseFormat, TablesReadBackAsWritten) {
  const std::vector<uint8_t> bytes = DatabaseBytes({kProperty, kNumbers});
  std::string error;
  const auto db = Database::Read(bytes, error);
  ASSERT_TRUE(db) << error;
  ASSERT_EQ(db->tables().size(), 2u);
  for (const Table* want : {&kProperty, &kNumbers}) {
    const Table* got = db->Find(want->name);
    ASSERT_TRUE(got) << want->name;
    EXPECT_EQ(got->columns, want->columns);
    EXPECT_EQ(got->rows, want->rows);
  }
  EXPECT_EQ(db->Property("ProductVersion"), "1.0.0");
  EXPECT_EQ(db->codePage(), 1252u);
}

TEST(DatabaseFormat, DamagedDatabasesAreRefusedWithAReason) {
  const std::vector<uint8_t> good = DatabaseBytes({kProperty});
  std::string error;
  ASSERT_TRUE(packer::CompoundFile::Read(good, error));
  auto file = *packer::CompoundFile::Read(good, error);
  struct Case {
    const char* stream;
    std::vector<uint8_t> contents;
    const char* reason;
  };
  const Case cases[] = {
      {"Property", {0x01, 0x00, 0x02, 0x00, 0x03}, "whole number of rows"},
      {"Property", {0x01, 0x00, 0x02, 0x00, 0x7F, 0x00, 0x03, 0x00}, "string pool does not"},
      {"_StringPool", {0xE4, 0x04, 0x00, 0x00, 0x30, 0x00, 0x01, 0x00}, "more text than"},
      {"_Columns", {1, 2, 3}, "column list is damaged"},
  };
  for (const Case& c : cases) {
    auto copy = file;
    const auto index = copy.FindChild(0, EncodeStreamName(c.stream, true));
    ASSERT_TRUE(index) << c.stream;
    copy.ReplaceStream(*index, c.contents);
    const std::vector<uint8_t> bytes = copy.Write();
    error.clear();
    EXPECT_FALSE(Database::Read(bytes, error)) << c.stream;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.stream << ": " << error;
  }
}

TEST(TransformFormat, RowsCarryTheirMasksAndStringIds) {
  TransformWriter writer(1252);
  writer.Update(kProperty, {Value::Text("ProductVersion"), Value::Text("1.1.0")}, {false, true});
  writer.Delete(kProperty, kProperty.rows[1]);
  writer.Insert(kProperty, {Value::Text("New"), Value::Text("value")});
  const Storage storage = writer.Finish(PropertySet{}.Serialize());
  const auto& rows = storage.streams.at(EncodeStreamName("Property", true));
  // Update: mask 0x0002 (the Value column), key "ProductVersion" (id 1), value "1.1.0" (2).
  // Delete: mask 0, key "ProductCode" (3). Insert: mask 0x0201 (whole row of 2 columns).
  const std::vector<uint8_t> expected = {0x02, 0x00, 1,    0,    2, 0, 0x00, 0x00,
                                         3,    0,    0x01, 0x02, 4, 0, 5,    0};
  EXPECT_EQ(rows, expected);
  const auto& pool = storage.streams.at(EncodeStreamName("_StringPool", true));
  ASSERT_EQ(pool.size(), 4u + 4u * 5);
  EXPECT_EQ(pool[0] | (pool[1] << 8), 1252);
  const auto& data = storage.streams.at(EncodeStreamName("_StringData", true));
  EXPECT_EQ(std::string(data.begin(), data.end()), "ProductVersion1.1.0ProductCodeNewvalue");
}

TEST(TableDifference, ChangedRowsAreMaskedAndFileSequencesKept) {
  const Table file{"File",
                   {{"File", kTypeValid | kTypeString | kTypeKey | 72},
                    {"FileSize", kTypeValid | 4},
                    {"Sequence", kTypeValid | 2}},
                   {{Value::Text("a"), Value::Integer(1), Value::Integer(1)}}};
  Table newer = file;
  newer.rows[0] = {Value::Text("a"), Value::Integer(2), Value::Integer(9)};
  Table newerProperty = kProperty;
  newerProperty.rows[0][1] = Value::Text("1.1.0");
  const std::vector<uint8_t> oldBytes = DatabaseBytes({kProperty, file});
  const std::vector<uint8_t> newBytes = DatabaseBytes({newerProperty, newer});
  std::string error;
  const auto oldDb = Database::Read(oldBytes, error);
  const auto newDb = Database::Read(newBytes, error);
  ASSERT_TRUE(oldDb && newDb) << error;
  TransformWriter writer(1252);
  const Difference d = WriteTableDifference(*oldDb, *newDb, writer);
  EXPECT_FALSE(d.refusal);
  EXPECT_EQ(d.rows, 2u);
  const Storage storage = writer.Finish(PropertySet{}.Serialize());
  // FileSize changes (bit 1); Sequence (bit 2) stays the old build's.
  const auto& rows = storage.streams.at(EncodeStreamName("File", true));
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[0] | (rows[1] << 8), 0x0002);
  EXPECT_EQ(rows.size(), 2u + 2u + 4u);
}

TEST(Versions, ParsedAsTheInstallerCompares) {
  EXPECT_EQ(ParseVersion("1.2.3"), (std::vector<uint32_t>{1, 2, 3, 0}));
  EXPECT_EQ(ParseVersion("10"), (std::vector<uint32_t>{10, 0, 0, 0}));
  EXPECT_FALSE(ParseVersion("1..2"));
  EXPECT_FALSE(ParseVersion("1.2.3.4.5"));
  EXPECT_FALSE(ParseVersion(""));
  EXPECT_LT(*ParseVersion("1.9"), *ParseVersion("1.10"));
}

}  // namespace
}  // namespace patch_builder
