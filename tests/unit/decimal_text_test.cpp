#include "platform/decimal_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace updater {
namespace {

TEST(DecimalText, WritesWhatToWstringWrites) {
  const int64_t cases[] = {0,
                           7,
                           -1,
                           10,
                           65535,
                           1603,
                           -2147024891,  // an HRESULT-style error code as a signed number
                           std::numeric_limits<int32_t>::min(),
                           std::numeric_limits<uint32_t>::max(),
                           std::numeric_limits<int64_t>::max(),
                           std::numeric_limits<int64_t>::min()};
  for (const int64_t value : cases) {
    EXPECT_EQ(DecimalText(value), std::to_wstring(value)) << value;
  }
}

TEST(DecimalText, ReadDecimalFollowsWcstol) {
  const std::pair<std::wstring, int32_t> cases[] = {{L"1031", 1031},
                                                    {L"  42abc", 42},
                                                    {L"-17", -17},
                                                    {L"+5", 5},
                                                    {L"abc", 0},
                                                    {L"", 0},
                                                    {L"-", 0},
                                                    {L"2147483647", 2147483647},
                                                    {L"2147483648", 2147483647},
                                                    {L"-2147483648", -2147483647 - 1},
                                                    {L"-2147483649", -2147483647 - 1},
                                                    {L"99999999999999999999999", 2147483647}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(ReadDecimal(text), expected);
}

}  // namespace
}  // namespace updater
