#include "tools/packer/summary_information.h"

#include <algorithm>

namespace packer {
namespace {

constexpr std::array<uint8_t, 16> kSummaryFormatId = {
    0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10, 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
constexpr uint16_t kUnicodeCodePage = 1200;

uint32_t Get32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) |
         (static_cast<uint32_t>(b[at + 3]) << 24);
}
void Append32(std::vector<uint8_t>& b, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) b.push_back(static_cast<uint8_t>(v >> shift));
}
void Pad4(std::vector<uint8_t>& b) {
  while (b.size() % 4 != 0) b.push_back(0);
}

}  // namespace

std::optional<SummaryInformation> SummaryInformation::Parse(std::span<const uint8_t> stream,
                                                            std::string& error) {
  const size_t size = stream.size();
  if (size < 28 || stream[0] != 0xFE || stream[1] != 0xFF) {
    error = "it is not a property set";
    return std::nullopt;
  }
  const uint32_t sectionCount = Get32(stream, 24);
  if (sectionCount == 0 || sectionCount > (size - 28) / 20) {
    error = "its section list is damaged";
    return std::nullopt;
  }
  SummaryInformation info;
  info.header_.assign(stream.begin(), stream.begin() + 24);
  bool found = false;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    Section section;
    std::copy_n(stream.begin() + 28 + 20 * i, 16, section.formatId.begin());
    const uint32_t offset = Get32(stream, 28 + 20 * i + 16);
    if (offset > size || size - offset < 8 || Get32(stream, offset) > size - offset ||
        Get32(stream, offset) < 8) {
      error = "section " + std::to_string(i + 1) + " lies outside the stream";
      return std::nullopt;
    }
    const std::span<const uint8_t> bytes = stream.subspan(offset, Get32(stream, offset));
    section.bytes.assign(bytes.begin(), bytes.end());
    if (!found && section.formatId == kSummaryFormatId) {
      found = true;
      info.summarySection_ = i;
      const uint32_t count = Get32(bytes, 4);
      if (count > (bytes.size() - 8) / 8) {
        error = "its property table is larger than its section";
        return std::nullopt;
      }
      std::vector<uint32_t> offsets;
      for (uint32_t k = 0; k < count; ++k) offsets.push_back(Get32(bytes, 8 + 8 * k + 4));
      std::vector<uint32_t> sorted = offsets;
      sorted.push_back(static_cast<uint32_t>(bytes.size()));
      std::sort(sorted.begin(), sorted.end());
      for (uint32_t k = 0; k < count; ++k) {
        const uint32_t at = offsets[k];
        if (at < 8 + 8 * count || at >= bytes.size() ||
            *std::upper_bound(sorted.begin(), sorted.end(), at) - at < 4) {
          error =
              "property " + std::to_string(Get32(bytes, 8 + 8 * k)) + " lies outside its section";
          return std::nullopt;
        }
        const uint32_t end = *std::upper_bound(sorted.begin(), sorted.end(), at);
        info.properties_.push_back({Get32(bytes, 8 + 8 * k),
                                    std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + end)});
      }
    }
    info.sections_.push_back(std::move(section));
  }
  if (!found) {
    error = "it holds no summary information section";
    return std::nullopt;
  }
  if (info.Type(kCodePage) == 2) {
    for (const Property& p : info.properties_) {
      if (p.id == kCodePage && p.value.size() >= 6) {
        info.codePage_ = static_cast<uint16_t>(p.value[4] | (p.value[5] << 8));
      }
    }
  }
  return info;
}

std::optional<uint16_t> SummaryInformation::Type(uint32_t id) const {
  for (const Property& p : properties_) {
    if (p.id == id) return static_cast<uint16_t>(p.value[0] | (p.value[1] << 8));
  }
  return std::nullopt;
}

std::optional<std::string> SummaryInformation::Text(uint32_t id) const {
  for (const Property& p : properties_) {
    if (p.id != id) continue;
    if (Type(id) != kVtLpstr) return std::nullopt;
    if (p.value.size() < 8) return std::string();
    const std::span<const uint8_t> value(p.value);
    const size_t length = std::min<size_t>(Get32(value, 4), value.size() - 8);
    std::string text;
    if (codePage_ == kUnicodeCodePage) {
      for (size_t i = 0; i + 1 < length; i += 2) {
        const uint16_t unit = static_cast<uint16_t>(value[8 + i] | (value[9 + i] << 8));
        if (unit == 0) break;
        text += unit < 0x100 ? static_cast<char>(unit) : '?';
      }
    } else {
      for (size_t i = 0; i < length && value[8 + i] != 0; ++i)
        text += static_cast<char>(value[8 + i]);
    }
    return text;
  }
  return std::nullopt;
}

std::vector<uint8_t> SummaryInformation::WithKeywords(std::string_view text) const {
  std::vector<uint8_t> keywords;
  Append32(keywords, kVtLpstr);
  if (codePage_ == kUnicodeCodePage) {
    Append32(keywords, static_cast<uint32_t>((text.size() + 1) * 2));
    for (char c : text) {
      keywords.push_back(static_cast<uint8_t>(c));
      keywords.push_back(0);
    }
    keywords.insert(keywords.end(), {0, 0});
  } else {
    Append32(keywords, static_cast<uint32_t>(text.size() + 1));
    keywords.insert(keywords.end(), text.begin(), text.end());
    keywords.push_back(0);
  }
  Pad4(keywords);

  std::vector<Property> properties = properties_;
  const auto existing = std::find_if(properties.begin(), properties.end(),
                                     [](const Property& p) { return p.id == kKeywords; });
  if (existing != properties.end()) {
    existing->value = keywords;
  } else {
    const auto after = std::find_if(properties.begin(), properties.end(),
                                    [](const Property& p) { return p.id > kKeywords; });
    properties.insert(after, Property{kKeywords, keywords});
  }
  std::vector<uint8_t> values;
  std::vector<uint8_t> section;
  const uint32_t tableEnd = 8 + 8 * static_cast<uint32_t>(properties.size());
  std::vector<uint8_t> table;
  for (const Property& p : properties) {
    Append32(table, p.id);
    Append32(table, tableEnd + static_cast<uint32_t>(values.size()));
    values.insert(values.end(), p.value.begin(), p.value.end());
    Pad4(values);
  }
  Append32(section, tableEnd + static_cast<uint32_t>(values.size()));
  Append32(section, static_cast<uint32_t>(properties.size()));
  section.insert(section.end(), table.begin(), table.end());
  section.insert(section.end(), values.begin(), values.end());

  std::vector<uint8_t> out = header_;
  Append32(out, static_cast<uint32_t>(sections_.size()));
  const size_t listEnd = out.size() + 20 * sections_.size();
  std::vector<uint8_t> bodies;
  for (size_t i = 0; i < sections_.size(); ++i) {
    out.insert(out.end(), sections_[i].formatId.begin(), sections_[i].formatId.end());
    Append32(out, static_cast<uint32_t>(listEnd + bodies.size()));
    const std::vector<uint8_t>& body = i == summarySection_ ? section : sections_[i].bytes;
    bodies.insert(bodies.end(), body.begin(), body.end());
    Pad4(bodies);
  }
  out.insert(out.end(), bodies.begin(), bodies.end());
  return out;
}

}  // namespace packer
