// JSON string literals for the Windows test tools' output: ASCII only, so that the text survives
// any console code page; other characters travel as \u escapes of their UTF-16 units.
#pragma once

#include <cstdio>
#include <string>

inline std::string JsonText(const std::wstring& text) {
  std::string out = "\"";
  for (wchar_t c : text) {
    if (c == L'"' || c == L'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    }
  }
  return out + "\"";
}
