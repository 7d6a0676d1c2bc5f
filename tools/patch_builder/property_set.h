// The summary information property set ("\005SummaryInformation") written byte for byte: one
// section, properties in the order of their ids, text as VT_LPSTR in the set's code page.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace patch_builder {

// Property ids of the summary information.
namespace pid {
inline constexpr uint32_t kCodePage = 1;
inline constexpr uint32_t kTitle = 2;
inline constexpr uint32_t kSubject = 3;
inline constexpr uint32_t kAuthor = 4;
inline constexpr uint32_t kKeywords = 5;
inline constexpr uint32_t kComments = 6;
inline constexpr uint32_t kTemplate = 7;
inline constexpr uint32_t kLastSavedBy = 8;
inline constexpr uint32_t kRevisionNumber = 9;
inline constexpr uint32_t kPageCount = 14;
inline constexpr uint32_t kWordCount = 15;
inline constexpr uint32_t kCharacterCount = 16;
inline constexpr uint32_t kApplicationName = 18;
inline constexpr uint32_t kSecurity = 19;
}  // namespace pid

class PropertySet {
 public:
  void SetText(uint32_t id, std::string value);
  void SetInt(uint32_t id, int32_t value);    // VT_I4
  void SetShort(uint32_t id, int16_t value);  // VT_I2
  std::vector<uint8_t> Serialize() const;

 private:
  struct Value {
    uint16_t type;
    std::string text;
    int32_t number;
  };
  std::map<uint32_t, Value> values_;
};

// An integer property (VT_I2 or VT_I4) of a stored summary information stream, if present.
std::optional<int32_t> SummaryInteger(std::span<const uint8_t> stream, uint32_t id);

}  // namespace patch_builder
