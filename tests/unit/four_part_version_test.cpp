#include <gtest/gtest.h>

#include "inspection/four_part_version.h"

namespace updater {
namespace {

// Every part present is read, so the three-part versions Windows Installer writes compare as
// they should. This table replaces an earlier one in which a part was read only when a "."
// followed it (except the fourth): "2.1.30" read as 2.1.0.0, "2.5" as 2.0.0.0 and "2" as 0.0.0.0,
// so "2.1.30" and "2.1.31" were the same version.
TEST(FourPartVersion, FromTextTable) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"2.1.30.04", L"2.1.30.4"},
      {L"2,1,30,4", L"2.1.30.4"},
      {L"2.1.30", L"2.1.30.0"},
      {L"2.1.31", L"2.1.31.0"},
      {L"2,1,30", L"2.1.30.0"},
      {L"2.5", L"2.5.0.0"},
      {L"2", L"2.0.0.0"},
      {L"65537", L"1.0.0.0"},
      {L"", L"0.0.0.0"},
      {L"1.2.3.4.5", L"1.2.3.4"},
      {L"1.2.3.4.x.99", L"1.2.3.4"},
      {L"1..2.3", L"1.0.2.3"},
      {L"1..2", L"1.0.2.0"},
      {L"2.", L"2.0.0.0"},
      {L".5", L"0.5.0.0"},
      {L"...", L"0.0.0.0"},
      {L"1.2.3.x", L"1.2.3.0"},
      {L"1.2.30x", L"1.2.30.0"},
      {L"1.-1.2.3", L"1.65535.2.3"},
      {L"1.70000.2.3", L"1.4464.2.3"},
      {L"1.99999999999.2.3", L"1.65535.2.3"},
      {L" 7. +8.\t9.10", L"7.8.9.10"},
      {L"1.-99999999999.2.3", L"1.0.2.3"},  // clamped to -2147483648, whose low bits are 0
      {L"65536.65535.1.1", L"0.65535.1.1"},
      {L"2.1.30.4;", L"2.1.30.4"},
      {L"2.1.30;", L"2.1.30.0"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(FourPartVersion::FromText(text).ToText(), expected)
        << "from " << std::string(text.begin(), text.end());
  }
}

TEST(FourPartVersion, FromTextLeavesTheCallersTextAlone) {
  const std::wstring text = L"2,1,30,4";
  FourPartVersion::FromText(text);
  EXPECT_EQ(text, L"2,1,30,4");
}

TEST(FourPartVersion, EqualityIsPartByPart) {
  EXPECT_TRUE(
      FourPartVersion::FromText(L"2.1.30.04").Equals(FourPartVersion::FromText(L"2.1.30.4")));
  EXPECT_FALSE(
      FourPartVersion::FromText(L"2.1.30.4").Equals(FourPartVersion::FromText(L"2.1.30.5")));
  EXPECT_FALSE(
      FourPartVersion::FromText(L"2.1.30.4").Equals(FourPartVersion::FromText(L"3.1.30.4")));
  // A three-part version equals its four-part form and differs from its neighbour.
  EXPECT_TRUE(FourPartVersion::FromText(L"2.1.30").Equals(FourPartVersion::FromText(L"2.1.30.0")));
  EXPECT_FALSE(FourPartVersion::FromText(L"2.1.30").Equals(FourPartVersion::FromText(L"2.1.31")));
}

TEST(FourPartVersion, SetKeepsTheLowBitsAndClearZeroes) {
  FourPartVersion version;
  version.Set(0x10006, 0xFFFFFFFF, 3, 4);
  EXPECT_EQ(version.ToText(), L"6.65535.3.4");
  FourPartVersion copy = version;
  copy.Clear();
  EXPECT_EQ(copy.ToText(), L"0.0.0.0");
  EXPECT_EQ(version.ToText(), L"6.65535.3.4");  // copies are independent
  version.Set(65535, 65535, 65535, 65535);
  EXPECT_EQ(version.ToText(), L"65535.65535.65535.65535");  // the longest text, 23 characters
}

}  // namespace
}  // namespace updater
