#include <gtest/gtest.h>

#include "messages/catalogue.h"
#include "tests/fakes/fake_system.h"
#include "tests/fakes/string_tables.h"

namespace updater {
namespace {

using testing::FakeSystem;

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::LoadStringTable(system, 1033);
    system.AddStringTable(1031, {{300, L"de 300"}, {301, L"de 301"}, {307, L"de 307"}});
    system.AddStringTable(1028, {{307, L"zh-TW 307"}});
    system.AddStringTable(2052, {{307, L"zh-CN 307"}});
    system.AddStringTable(3082, {{307, L"es 307"}});
  }
  std::wstring Load(uint32_t locale, uint32_t id, size_t capacity = 256) {
    std::wstring text = L"stale";
    const size_t count = LoadText(system, id, locale, text, capacity);
    EXPECT_EQ(count, text.size());
    return text;
  }
  FakeSystem system;
};

TEST_F(Catalogue, EnglishTextsCarryTheirLineFeedsAndBlanks) {
  EXPECT_EQ(Load(1033, 300),
            L"A problem prevented the Update from being installed. Contact your system "
            L"administrator. \n\n Error Code: %d");
  EXPECT_EQ(Load(1033, 306), L"Your version of %s is up-to-date and this update is not necessary");
  EXPECT_NE(Load(1033, 314).find(L"blocked.  For"), std::wstring::npos);
  EXPECT_EQ(Load(1033, 318), L"_ps");
}

TEST_F(Catalogue, ChoosesTheTableByLanguage) {
  struct Case {
    uint32_t locale;
    uint32_t id;
    std::wstring expected;
  };
  const Case cases[] = {
      {1031, 300, L"de 300"},              // exact table
      {0x0C07, 301, L"de 301"},            // German (Austria): same primary language
      {0x0807, 307, L"de 307"},            // German (Switzerland)
      {1034, 307, L"es 307"},              // Spanish, traditional sort
      {0x0C04, 307, L"zh-TW 307"},         // Chinese (Hong Kong): traditional script
      {0x1004, 307, L"zh-CN 307"},         // Chinese (Singapore): simplified script
      {0x0004, 307, L"zh-CN 307"},         // neutral Chinese: simplified, as Windows takes it
      {1040, 311, L"Installation Error"},  // no Italian table here: English
      {1036, 307,
       L"The update could not be installed because the expected Quorvex product could "
       L"not be located on your computer.\nMake sure that you are using the correct "
       L"update for the product."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Load(c.locale, c.id), c.expected) << "locale " << c.locale << " id " << c.id;
  }
}

TEST_F(Catalogue, IdsWithoutTextGiveNothing) {
  for (uint32_t id : {302u, 303u, 304u, 305u, 299u, 323u, 0u, 5000u, 70000u}) {
    EXPECT_EQ(Load(1033, id), L"") << id;
  }
}

TEST_F(Catalogue, CutsToCapacityLessTheTerminator) {
  EXPECT_EQ(Load(1033, 311, 6), L"Insta");
  EXPECT_EQ(Load(1033, 311, 1), L"");
  EXPECT_EQ(Load(1033, 311, 0), L"");
}

TEST(CatalogueWithoutTables, GivesNothing) {
  FakeSystem system;
  std::wstring text = L"stale";
  EXPECT_EQ(LoadText(system, 300, 1033, text, 256), 0u);
  EXPECT_EQ(text, L"");
}

TEST(CatalogueMalformedBlock, NeverReadsPastTheBlock) {
  FakeSystem system;
  // Block 19 (ids 288 to 303): the first entry claims 0x7FFF characters but two follow, and an
  // odd byte trails.
  const std::vector<std::byte> raw = {std::byte{0xFF}, std::byte{0x7F}, std::byte{'a'},
                                      std::byte{0},    std::byte{'b'},  std::byte{0},
                                      std::byte{0x01}};
  system.SetRawStringBlock(19, 1033, raw);
  std::wstring text;
  EXPECT_EQ(LoadText(system, 288, 1033, text, 256), 2u);
  EXPECT_EQ(text, L"ab");
  EXPECT_EQ(LoadText(system, 289, 1033, text, 256), 0u);
  EXPECT_EQ(LoadText(system, 300, 1033, text, 256), 0u);
}

}  // namespace
}  // namespace updater
