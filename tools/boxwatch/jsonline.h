// One flat JSON record per line for the watcher's log. Strings are written by the tools' one JSON
// text helper (ASCII, other UTF-16 units as \u escapes), so that every tool's output reads alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "../common/json_text.h"

namespace boxwatch {

// Builds {"key": value, ...} in insertion order.
class JsonObject {
 public:
  JsonObject& Str(std::string_view key, std::wstring_view value) {
    Key(key);
    text_ += JsonText(std::wstring(value));
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
      text_ += JsonText(values[i]);
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
