// Turns a fuzzer's bytes into the updater's inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace updater::fuzzing {

// Wide text from pairs of bytes, so that every UTF-16 unit can occur.
inline std::wstring WideText(const uint8_t* data, size_t size) {
  std::wstring text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  }
  return text;
}

// Narrow bytes read as text of small characters, which reach the interesting ones ("." "," ";"
// digits, signs, blanks) far more often.
inline std::wstring SmallText(const uint8_t* data, size_t size) {
  std::wstring text;
  for (size_t i = 0; i < size; ++i) text += static_cast<wchar_t>(data[i] & 0x7F);
  return text;
}

inline std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts(1);
  for (wchar_t c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

}  // namespace updater::fuzzing
