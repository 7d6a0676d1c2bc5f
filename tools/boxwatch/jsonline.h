// Minimal JSON writer for one flat record per line: UTF-16 strings become UTF-8, and a lone
// surrogate (which UTF-8 cannot carry) becomes a \uXXXX escape so nothing is silently dropped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace boxwatch {

inline void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

inline void AppendEscape(std::string& out, unsigned unit) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

inline void AppendJsonString(std::string& out, std::wstring_view s) {
  out += '"';
  for (size_t i = 0; i < s.size(); ++i) {
    const char32_t c = static_cast<char16_t>(s[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      default:
        break;
    }
    if (c < 0x20) {
      AppendEscape(out, c);
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() &&
               static_cast<char16_t>(s[i + 1]) >= 0xDC00 &&
               static_cast<char16_t>(s[i + 1]) <= 0xDFFF) {
      const char32_t low = static_cast<char16_t>(s[++i]);
      AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendEscape(out, c);
    } else {
      AppendUtf8(out, c);
    }
  }
  out += '"';
}

// Builds {"key": value, ...} in insertion order.
class JsonObject {
 public:
  JsonObject& Str(std::string_view key, std::wstring_view value) {
    Key(key);
    AppendJsonString(text_, value);
    return *this;
  }
  JsonObject& Int(std::string_view key, int64_t value) {
    Key(key);
    text_ += std::to_string(value);
    return *this;
  }
  JsonObject& Null(std::string_view key) {
    Key(key);
    text_ += "null";
    return *this;
  }
  JsonObject& Bool(std::string_view key, bool value) {
    Key(key);
    text_ += value ? "true" : "false";
    return *this;
  }
  JsonObject& StrList(std::string_view key, const std::vector<std::wstring>& values) {
    Key(key);
    text_ += '[';
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) text_ += ", ";
      AppendJsonString(text_, values[i]);
    }
    text_ += ']';
    return *this;
  }
  JsonObject& IntList(std::string_view key, const std::vector<int64_t>& values) {
    Key(key);
    text_ += '[';
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) text_ += ", ";
      text_ += std::to_string(values[i]);
    }
    text_ += ']';
    return *this;
  }
  std::string Line() const { return text_ + "}\n"; }

 private:
  void Key(std::string_view key) {
    text_ += text_.empty() ? "{" : ", ";
    text_ += '"';
    text_ += key;
    text_ += "\": ";
  }
  std::string text_;
};

}  // namespace boxwatch
