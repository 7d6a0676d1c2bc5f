#include "tools/packer/patch_check.h"
#include "tools/packer/summary_information.h"

#include <gtest/gtest.h>

#include "inspection/four_part_version.h"
#include "tests/unit/patch_fixtures.h"

namespace packer {
namespace {

using testing::GoodSummary;
using testing::MakePatch;
using testing::MakePatchShape;
using testing::SummaryStream;
using testing::Value;

constexpr char kName[] = "dir/patch.msp";
constexpr char kGoodTargets[] = "{8A2F6C1E-3B4D-4E5F-9A0B-1C2D3E4F5A6B}";

std::map<uint32_t, Value> SummaryWith(std::map<uint32_t, std::optional<Value>> changes) {
  std::map<uint32_t, Value> properties = GoodSummary();
  for (const auto& [id, value] : changes) {
    if (value) {
      properties[id] = *value;
    } else {
      properties.erase(id);
    }
  }
  return properties;
}

std::vector<uint8_t> PatchWith(std::map<uint32_t, std::optional<Value>> changes) {
  return MakePatch(SummaryStream(SummaryWith(std::move(changes))));
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The summary property of the carried copy, read back through the compound file.
std::optional<std::string> CarriedText(const std::vector<uint8_t>& bytes, uint32_t id,
                                       uint16_t* codePage = nullptr) {
  std::string error;
  std::optional<CompoundFile> file = CompoundFile::Read(bytes, error);
  EXPECT_TRUE(file) << error;
  if (!file) return std::nullopt;
  const std::optional<uint32_t> stream = file->FindChild(0, u"\005SummaryInformation");
  EXPECT_TRUE(stream);
  std::optional<SummaryInformation> summary =
      SummaryInformation::Parse(file->StreamBytes(*stream), error);
  EXPECT_TRUE(summary) << error;
  if (codePage != nullptr) *codePage = summary->codePage();
  return summary->Text(id);
}

TEST(PatchCheck, AcceptsAGoodPatchSilentlyAndCarriesItAsItIs) {
  const PatchVerdict verdict = CheckPatch(kName, PatchWith({}), std::nullopt);
  EXPECT_FALSE(verdict.refusal) << *verdict.refusal;
  EXPECT_TRUE(verdict.warnings.empty());
  EXPECT_FALSE(verdict.edited);
}

TEST(PatchCheck, RefusesWhatTheUpdaterCannotUseNamingTheFileAndReason) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    std::vector<std::string> reason;  // every part appears in the refusal
  };
  const std::string noSeparator =
      "has no \";\" between the upgrade version and the target versions";
  const std::string versionsHint = "--versions \"UPGRADE;TARGET1,TARGET2\"";
  const Case cases[] = {
      {"random bytes", testing::Bytes(3000, 5), {"not a compound file"}},
      {"an installer database",
       MakePatch(SummaryStream(GoodSummary()), testing::kDatabaseClass),
       {"installer database (.msi", "{000C1084-0000-0000-C000-000000000046}",
        "{000C1086-0000-0000-C000-000000000046}"}},
      {"a transform",
       MakePatch(SummaryStream(GoodSummary()), testing::kTransformClass),
       {"a transform (.mst", "{000C1082-0000-0000-C000-000000000046}"}},
      {"another class",
       MakePatch(SummaryStream(GoodSummary()), testing::ClassFromFirstWord(0x1234)),
       {"class {00001234-0000-0000-C000-000000000046}"}},
      {"an empty summary stream", MakePatch({}), {"summary information cannot be read"}},
      {"property 7 missing", PatchWith({{7, std::nullopt}}), {"property 7", "is missing"}},
      {"property 7 empty", PatchWith({{7, std::string()}}), {"property 7", "is empty"}},
      {"property 7 a number", PatchWith({{7, 12}}), {"property 7", "not a text (type 3)"}},
      {"lower-case code",
       PatchWith({{7, std::string("{8a2f6c1e-3b4d-4e5f-9a0b-1c2d3e4f5a6b}")}}),
       {"entry 1 \"{8a2f6c1e-3b4d-4e5f-9a0b-1c2d3e4f5a6b}\"", "upper case"}},
      {"code without braces",
       PatchWith({{7, std::string(kGoodTargets) + ";8A2F6C1E-3B4D-4E5F-9A0B-1C2D3E4F5A6B"}}),
       {"entry 2 \"8A2F6C1E-3B4D-4E5F-9A0B-1C2D3E4F5A6B\""}},
      {"empty entry",
       PatchWith({{7, std::string(kGoodTargets) + ";;" + kGoodTargets}}),
       {"entry 2 \"\""}},
      {"trailing text", PatchWith({{7, std::string(kGoodTargets) + "x"}}), {"entry 1"}},
      {"property 5 missing",
       PatchWith({{5, std::nullopt}}),
       {"property 5", "missing", versionsHint}},
      {"property 5 a number", PatchWith({{5, 7}}), {"property 5", "not a text", versionsHint}},
      {"property 5 of other keywords",
       PatchWith({{5, std::string("PatchSourceList")}}),
       {"property 5 \"PatchSourceList\"", noSeparator, versionsHint}},
      {"property 5 with \";\" first",
       PatchWith({{5, std::string(";2.0.0.0")}}),
       {"property 5 \";2.0.0.0\" begins with \";\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const PatchVerdict verdict = CheckPatch(kName, c.bytes, std::nullopt);
    ASSERT_TRUE(verdict.refusal);
    EXPECT_EQ(verdict.refusal->rfind(std::string(kName) + ": ", 0), 0u) << *verdict.refusal;
    for (const std::string& part : c.reason) {
      EXPECT_TRUE(Contains(*verdict.refusal, part)) << *verdict.refusal << "\nlacks: " << part;
    }
    EXPECT_FALSE(verdict.edited);
  }
}

// A version that does not read as the numbers written is a warning that tells the updater's
// reading, whatever FourPartVersion::FromText makes of it.
TEST(PatchCheck, WarnsOfVersionsTheUpdaterReadsOtherwise) {
  struct Case {
    std::string property5;
    std::vector<std::string> warned;  // "<version> is read as <reading>" each
  };
  const Case cases[] = {
      {"2.1.30.0;2.0.10.0,2.1.0.0", {}},
      {"2.01.30.0;2.1.0.0", {}},
      {"1.2.3.4.5;1.0.0.0", {"\"1.2.3.4.5\" is read as 1.2.3.4"}},
      {"70000.1.0.0;1.0.0.0", {"\"70000.1.0.0\" is read as 4464.1.0.0"}},
      {"2.1.30.0;2.1.x.0,,2.0.0.0", {"\"2.1.x.0\" is read as 2.1.0.0", "\"\" is read as 0.0.0.0"}},
      {"2.1.30.0; 2.1.0.0", {"\" 2.1.0.0\" is read as 2.1.0.0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.property5);
    const PatchVerdict verdict = CheckPatch(kName, PatchWith({{5, c.property5}}), std::nullopt);
    ASSERT_FALSE(verdict.refusal) << *verdict.refusal;
    ASSERT_EQ(verdict.warnings.size(), c.warned.size());
    for (size_t i = 0; i < c.warned.size(); ++i) {
      EXPECT_TRUE(Contains(verdict.warnings[i], std::string(kName) + ": warning:"));
      EXPECT_TRUE(Contains(verdict.warnings[i], c.warned[i])) << verdict.warnings[i];
    }
  }

  // Versions of fewer than four parts: a warning exactly when the reading drops a part.
  for (const std::string text : {"2.1.30", "2.5", "2"}) {
    SCOPED_TRACE(text);
    const std::wstring read =
        updater::FourPartVersion::FromText(std::wstring(text.begin(), text.end())).ToText();
    const std::string reading(read.begin(), read.end());
    std::string padded = text;
    for (size_t dots = std::count(text.begin(), text.end(), '.'); dots < 3; ++dots) padded += ".0";
    const PatchVerdict verdict =
        CheckPatch(kName, PatchWith({{5, text + ";1.0.0.0"}}), std::nullopt);
    ASSERT_FALSE(verdict.refusal);
    if (reading == padded) {
      EXPECT_TRUE(verdict.warnings.empty());
    } else {
      ASSERT_EQ(verdict.warnings.size(), 1u);
      EXPECT_TRUE(Contains(verdict.warnings[0], "\"" + text + "\" is read as " + reading))
          << verdict.warnings[0];
    }
  }
}

TEST(PatchCheck, VersionsSetPropertyFiveOfTheCopyOnly) {
  const std::vector<uint8_t> original = PatchWith({{5, std::string("PatchSourceList")}});
  const std::vector<uint8_t> before = original;
  const PatchVerdict verdict =
      CheckPatch(kName, original, std::string("2.1.31.0;2.1.30.0,2.1.29.0"));
  ASSERT_FALSE(verdict.refusal) << *verdict.refusal;
  EXPECT_TRUE(verdict.warnings.empty());
  ASSERT_TRUE(verdict.edited);
  EXPECT_EQ(original, before);
  uint16_t codePage = 0;
  EXPECT_EQ(CarriedText(*verdict.edited, 5, &codePage), "2.1.31.0;2.1.30.0,2.1.29.0");
  EXPECT_EQ(codePage, 1252);
  // Everything else as it was: the other properties, the other streams, the classes.
  for (uint32_t id : {2u, 7u, 8u, 9u}) {
    EXPECT_EQ(CarriedText(*verdict.edited, id), std::get<std::string>(GoodSummary()[id]));
  }
  std::string error;
  const std::optional<CompoundFile> was = CompoundFile::Read(original, error);
  const std::optional<CompoundFile> is = CompoundFile::Read(*verdict.edited, error);
  ASSERT_TRUE(was && is);
  ASSERT_EQ(was->reachable(), is->reachable());
  for (uint32_t index : was->reachable()) {
    const DirectoryEntry& a = was->entries()[index];
    const DirectoryEntry& b = is->entries()[index];
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.classId, b.classId);
    EXPECT_EQ(a.stateBits, b.stateBits);
    if (a.type == DirectoryEntry::Type::kStream && a.name != u"\005SummaryInformation") {
      EXPECT_EQ(was->StreamBytes(index), is->StreamBytes(index));
    }
  }
  EXPECT_EQ(is->root().classId, testing::kPatchClass);

  // Checked like any patch afterwards: the given text must itself be a version property.
  const PatchVerdict refused = CheckPatch(kName, original, std::string("2.1.31.0"));
  ASSERT_TRUE(refused.refusal);
  EXPECT_TRUE(Contains(*refused.refusal, "has no \";\""));
  EXPECT_FALSE(Contains(*refused.refusal, "give them with"));
  EXPECT_FALSE(refused.edited);
  const PatchVerdict warned = CheckPatch(kName, original, std::string("2.1.31.0;1.2.3.4.5"));
  ASSERT_EQ(warned.warnings.size(), 1u);
  EXPECT_TRUE(Contains(warned.warnings[0], "is read as 1.2.3.4"));
  EXPECT_TRUE(CheckPatch(kName, original, std::string("2.0;1.0\xE9")).refusal);
}

TEST(PatchCheck, VersionsAddOrRetypePropertyFiveAndKeepTheCodePage) {
  struct Case {
    const char* what;
    std::map<uint32_t, std::optional<Value>> changes;
  };
  const Case cases[] = {
      {"absent", {{5, std::nullopt}}},
      {"a number", {{5, 42}}},
      {"last", {{5, std::nullopt}, {9, std::nullopt}, {8, std::nullopt}}},
      {"a long text before", {{5, std::string(3000, 'k')}}},
      {"code page 65001", {{1, 65001}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const PatchVerdict verdict = CheckPatch(kName, PatchWith(c.changes), std::string("3.0;2.0"));
    ASSERT_FALSE(verdict.refusal) << *verdict.refusal;
    ASSERT_TRUE(verdict.edited);
    EXPECT_EQ(CarriedText(*verdict.edited, 5), "3.0;2.0");
    EXPECT_EQ(CarriedText(*verdict.edited, 7), std::get<std::string>(GoodSummary()[7]));
  }

  // A property set in UTF-16 (code page 1200) gets the text in UTF-16.
  std::vector<uint8_t> summary = SummaryStream(SummaryWith({{1, 1200}, {5, std::nullopt}}));
  std::string error;
  const std::optional<SummaryInformation> wide = SummaryInformation::Parse(summary, error);
  ASSERT_TRUE(wide) << error;
  const std::vector<uint8_t> rewritten = wide->WithKeywords("3.0;2.0");
  const std::optional<SummaryInformation> back = SummaryInformation::Parse(rewritten, error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->Text(5), "3.0;2.0");
  const std::vector<uint8_t> utf16 = {'3', 0, '.', 0, '0', 0, ';', 0};
  EXPECT_NE(std::search(rewritten.begin(), rewritten.end(), utf16.begin(), utf16.end()),
            rewritten.end());
}

TEST(PatchCheck, WarnsThatVersionsBreakASignature) {
  for (const std::u16string name : {u"\005DigitalSignature", u"\005MsiDigitalSignatureEx"}) {
    testing::PatchShape shape = MakePatchShape(SummaryStream(GoodSummary()));
    shape.entries[6] = testing::Entry(name, DirectoryEntry::Type::kStream);
    shape.entries[4].right = 6;
    shape.contents[6] = testing::Bytes(1500, 4);
    const std::vector<uint8_t> signedPatch =
        CompoundFile::FromEntries(shape.entries, shape.contents).Write();
    const PatchVerdict unchanged = CheckPatch(kName, signedPatch, std::nullopt);
    EXPECT_TRUE(unchanged.warnings.empty());
    const PatchVerdict edited = CheckPatch(kName, signedPatch, std::string("3.0.0.0;2.0.0.0"));
    ASSERT_FALSE(edited.refusal);
    ASSERT_EQ(edited.warnings.size(), 1u);
    EXPECT_TRUE(Contains(edited.warnings[0], "digitally signed"));
    EXPECT_TRUE(Contains(edited.warnings[0], "invalidates the signature"));
  }
}

TEST(PatchCheck, RefusesDamagedSummaryInformation) {
  std::vector<uint8_t> good = SummaryStream(GoodSummary());
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  auto set32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  const Case cases[] = {
      {"no byte order mark", [](auto& b) { b[0] = 0; }},
      {"no sections", [&](auto& b) { set32(b, 24, 0); }},
      {"many sections", [&](auto& b) { set32(b, 24, 0x10000000); }},
      {"section offset past the end", [&](auto& b) { set32(b, 44, 0xFFFFFFF0); }},
      {"section size past the end", [&](auto& b) { set32(b, 48, 0x7FFFFFFF); }},
      {"property table too long", [&](auto& b) { set32(b, 52, 0x20000000); }},
      {"property offset past the section", [&](auto& b) { set32(b, 60, 0x10000); }},
      {"other format", [](auto& b) { b[28] ^= 1; }},
      {"cut", [](auto& b) { b.resize(40); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> summary = good;
    c.damage(summary);
    const PatchVerdict verdict = CheckPatch(kName, MakePatch(summary), std::nullopt);
    ASSERT_TRUE(verdict.refusal);
    EXPECT_TRUE(Contains(*verdict.refusal, "summary information cannot be read"))
        << *verdict.refusal;
  }
  // Every byte of the stream damaged in turn: a refusal or a verdict, never a read out of bounds.
  for (size_t at = 0; at < good.size(); ++at) {
    for (const uint8_t value : std::initializer_list<uint8_t>{0x00, 0x80, 0xFF}) {
      std::vector<uint8_t> summary = good;
      summary[at] = value;
      const std::vector<uint8_t> patch = MakePatch(summary);
      CheckPatch(kName, patch, std::nullopt);
      const PatchVerdict edited = CheckPatch(kName, patch, std::string("3.0;2.0"));
      if (edited.edited) {
        EXPECT_EQ(CarriedText(*edited.edited, 5), "3.0;2.0");
      }
    }
  }
}

TEST(PatchCheck, LimitsTheTotalAnX86UpdateCarries) {
  const uint64_t limit = PayloadLimit(Architecture::kX86);
  EXPECT_EQ(limit, 1024ull * 1024 * 1024);
  EXPECT_FALSE(CheckPayloadTotal(Architecture::kX86, limit));
  const std::optional<std::string> refusal = CheckPayloadTotal(Architecture::kX86, limit + 1);
  ASSERT_TRUE(refusal);
  EXPECT_TRUE(Contains(*refusal, "1073741825 bytes"));
  EXPECT_TRUE(Contains(*refusal, "1073741824"));
  EXPECT_FALSE(CheckPayloadTotal(Architecture::kX64, limit + 1));
  EXPECT_TRUE(CheckPayloadTotal(Architecture::kX64, 4ull << 30));
}

}  // namespace
}  // namespace packer
