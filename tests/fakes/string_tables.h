// Loads the catalogue's resource scripts into a FakeSystem, so that unit tests see the texts the
// executable carries.
#pragma once

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/fakes/fake_system.h"

namespace updater::testing {

// Decodes UTF-8 into wide characters (one per code point).
inline std::wstring Widen(const std::string& utf8) {
  std::wstring wide;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    wide += static_cast<wchar_t>(code);
    i += 1 + extra;
  }
  return wide;
}

// The texts of resources/strings/<language>.rc: id "text" lines, with \n and "" unescaped.
inline std::map<uint32_t, std::wstring> ReadStringTable(uint16_t language) {
  const std::filesystem::path path = std::filesystem::path(UPDATER_SOURCE_DIR) / "resources" /
                                     "strings" / (std::to_string(language) + ".rc");
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("missing string table " + path.string());
  std::map<uint32_t, std::wstring> texts;
  const std::regex line(R"re(^\s*(\d+)\s+"((?:[^"]|"")*)"\s*$)re");
  for (std::string text; std::getline(file, text);) {
    std::smatch match;
    if (!std::regex_match(text, match, line)) continue;
    std::string value;
    const std::string raw = match[2];
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == 'n') {
        value += '\n';
        ++i;
      } else if (raw[i] == '"' && i + 1 < raw.size() && raw[i + 1] == '"') {
        value += '"';
        ++i;
      } else {
        value += raw[i];
      }
    }
    texts[static_cast<uint32_t>(std::stoul(match[1]))] = Widen(value);
  }
  return texts;
}

inline void LoadStringTable(FakeSystem& system, uint16_t language) {
  system.AddStringTable(language, ReadStringTable(language));
}

}  // namespace updater::testing
