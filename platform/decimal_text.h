// Decimal numbers in text, both ways: DecimalText writes one as std::to_wstring does ("-" before
// a negative number, no leading zeros), ReadDecimal reads one as wcstol does. Written out here
// because the runtime's to_wstring formats through the C library's wide printf, which would add
// about 20 KB to the executable for these few numbers.
#pragma once

#include <cstdint>
#include <string>

namespace updater {

inline std::wstring DecimalText(int64_t value) {
  wchar_t digits[21];
  size_t start = sizeof digits / sizeof digits[0];
  // The magnitude in unsigned arithmetic, so that the most negative value has one too.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[--start] = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[--start] = L'-';
  return std::wstring(digits + start, digits + sizeof digits / sizeof digits[0]);
}

// Reads a decimal number the way wcstol(text, nullptr, 10) does: leading white space, an optional
// sign, digits up to the first other character; 0 without digits; clamped to the 32-bit range.
int32_t ReadDecimal(const std::wstring& text);

}  // namespace updater
