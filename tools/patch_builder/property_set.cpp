#include "tools/patch_builder/property_set.h"

namespace patch_builder {
namespace {

constexpr uint16_t kVtI2 = 2;
constexpr uint16_t kVtI4 = 3;
constexpr uint16_t kVtLpstr = 30;
constexpr uint8_t kFormatId[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                   0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
uint32_t Get32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) |
         (static_cast<uint32_t>(b[at + 3]) << 24);
}

}  // namespace

void PropertySet::SetText(uint32_t id, std::string value) {
  values_[id] = {kVtLpstr, std::move(value), 0};
}
void PropertySet::SetInt(uint32_t id, int32_t value) { values_[id] = {kVtI4, {}, value}; }
void PropertySet::SetShort(uint32_t id, int16_t value) { values_[id] = {kVtI2, {}, value}; }

std::vector<uint8_t> PropertySet::Serialize() const {
  std::vector<uint8_t> body;
  std::vector<std::pair<uint32_t, uint32_t>> offsets;
  const uint32_t tableEnd = 8 + 8 * static_cast<uint32_t>(values_.size());
  for (const auto& [id, value] : values_) {
    offsets.emplace_back(id, tableEnd + static_cast<uint32_t>(body.size()));
    Put32(body, value.type);
    if (value.type == kVtLpstr) {
      Put32(body, static_cast<uint32_t>(value.text.size() + 1));
      body.insert(body.end(), value.text.begin(), value.text.end());
      body.push_back(0);
      while (body.size() % 4) body.push_back(0);
    } else {
      Put32(body,
            static_cast<uint32_t>(value.number) & (value.type == kVtI2 ? 0xFFFFu : 0xFFFFFFFFu));
    }
  }
  std::vector<uint8_t> out;
  Put16(out, 0xFFFE);  // byte order
  Put16(out, 0);       // format version
  Put32(out, 0x00020006);
  out.insert(out.end(), 16, 0);  // class id
  Put32(out, 1);                 // one section
  out.insert(out.end(), kFormatId, kFormatId + 16);
  Put32(out, 48);  // the section follows this header
  Put32(out, tableEnd + static_cast<uint32_t>(body.size()));
  Put32(out, static_cast<uint32_t>(values_.size()));
  for (const auto& [id, offset] : offsets) {
    Put32(out, id);
    Put32(out, offset);
  }
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::optional<int32_t> SummaryInteger(std::span<const uint8_t> s, uint32_t id) {
  if (s.size() < 48) return std::nullopt;
  const uint32_t section = Get32(s, 44);
  if (section > s.size() || s.size() - section < 8) return std::nullopt;
  const uint32_t count = Get32(s, section + 4);
  if (count > (s.size() - section - 8) / 8) return std::nullopt;
  for (uint32_t k = 0; k < count; ++k) {
    if (Get32(s, section + 8 + 8 * k) != id) continue;
    const uint32_t at = Get32(s, section + 8 + 8 * k + 4);
    if (at > s.size() - section || s.size() - section - at < 8) return std::nullopt;
    const uint32_t type = Get32(s, section + at) & 0xFFFF;
    const uint32_t raw = Get32(s, section + at + 4);
    if (type == kVtI2) return static_cast<int16_t>(raw & 0xFFFF);
    if (type == kVtI4) return static_cast<int32_t>(raw);
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace patch_builder
