#include "platform/decimal_text.h"

#include <algorithm>
#include <limits>

namespace updater {

int32_t ReadDecimal(const std::wstring& text) {
  const auto isSpace = [](wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
  };
  size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  int64_t magnitude = 0;
  constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    magnitude = std::min<int64_t>(magnitude * 10 + (text[i] - L'0'), kLimit);
  }
  if (negative) return static_cast<int32_t>(-magnitude);
  return static_cast<int32_t>(std::min<int64_t>(magnitude, kLimit - 1));
}

}  // namespace updater
