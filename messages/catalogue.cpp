#include "messages/catalogue.h"

#include <array>
#include <cstring>
#include <optional>
#include <span>

namespace updater {
namespace {

constexpr uint16_t PrimaryLanguage(uint16_t language) { return language & 0x3FF; }
constexpr uint16_t SubLanguage(uint16_t language) { return language >> 10; }

constexpr uint16_t kLangChinese = 0x04;
constexpr uint16_t kLangChineseTraditional = 1028;  // Taiwan
constexpr uint16_t kLangChineseSimplified = 2052;   // PRC

// The tables the executable carries. A language without its own table borrows one from this list.
constexpr std::array<uint16_t, 14> kCatalogueLanguages = {1028, 1029, 1031, 1033, 1036, 1038, 1040,
                                                          1041, 1042, 1045, 1046, 1049, 2052, 3082};

// Hong Kong and Macao write traditional characters, Singapore simplified ones; Windows takes
// neutral Chinese (0x0004) as simplified.
uint16_t ChineseTableFor(uint16_t language) {
  switch (SubLanguage(language)) {
    case 0x00:  // neutral
    case 0x02:  // PRC
    case 0x04:  // Singapore
      return kLangChineseSimplified;
    default:
      return kLangChineseTraditional;
  }
}

bool HasBlock(System& system, uint16_t blockId, uint16_t language) {
  return system.FindStringBlock(blockId, language).has_value();
}

uint16_t ReadUnit(std::span<const std::byte> block, size_t unitIndex) {
  uint16_t unit;
  std::memcpy(&unit, block.data() + unitIndex * 2, 2);
  return unit;
}

}  // namespace

uint16_t ChooseTableLanguage(System& system, uint16_t blockId, uint16_t language) {
  if (HasBlock(system, blockId, language)) return language;
  const uint16_t primary = PrimaryLanguage(language);
  if (primary == kLangChinese) {
    const uint16_t chinese = ChineseTableFor(language);
    if (HasBlock(system, blockId, chinese)) return chinese;
  }
  if (primary != 0) {
    for (uint16_t candidate : kCatalogueLanguages) {
      if (PrimaryLanguage(candidate) == primary && HasBlock(system, blockId, candidate))
        return candidate;
    }
  }
  if (HasBlock(system, blockId, kLangEnglishUs)) return kLangEnglishUs;
  return 0;
}

size_t LoadText(System& system, uint32_t id, uint32_t language, std::wstring& text,
                size_t capacity) {
  text.clear();
  if (capacity == 0 || id > 0xFFFF) return 0;
  const uint16_t blockId = static_cast<uint16_t>(id / 16 + 1);
  const uint16_t table =
      ChooseTableLanguage(system, blockId, static_cast<uint16_t>(language & 0xFFFF));
  if (table == 0) return 0;
  const std::optional<std::span<const std::byte>> block = system.FindStringBlock(blockId, table);
  if (!block) return 0;

  // A block holds 16 counted strings: a 16-bit length, then that many UTF-16 units.
  const size_t units = block->size() / 2;
  size_t position = 0;
  for (uint32_t entry = 0; entry < id % 16; ++entry) {
    if (position >= units) return 0;
    position += 1 + ReadUnit(*block, position);
  }
  if (position >= units) return 0;
  size_t length = ReadUnit(*block, position++);
  if (length > units - position) length = units - position;
  if (length > capacity - 1) length = capacity - 1;

  text.resize(length);
  for (size_t i = 0; i < length; ++i)
    text[i] = static_cast<wchar_t>(ReadUnit(*block, position + i));
  return length;
}

}  // namespace updater
