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

}  // namespace
}  // namespace updater
