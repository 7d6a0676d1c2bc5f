// The summary information property set of a package ("\005SummaryInformation"), read and
// rewritten as stored: the packer reads its text properties and sets property 5 of a copy.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace packer {

// The summary information property set of a package, as stored.
class SummaryInformation {
 public:
  static constexpr uint32_t kCodePage = 1;
  static constexpr uint32_t kKeywords = 5;
  static constexpr uint32_t kTemplate = 7;
  static constexpr uint16_t kVtLpstr = 30;

  // Parses the "\005SummaryInformation" stream; nothing, with the reason in error, when it is not
  // a property set holding the summary information section.
  static std::optional<SummaryInformation> Parse(std::span<const uint8_t> stream,
                                                 std::string& error);

  // The property's type, or nothing when the property is absent.
  std::optional<uint16_t> Type(uint32_t id) const;
  // A text (VT_LPSTR) property up to its first NUL, as its bytes in the set's code page (a set in
  // code page 1200, UTF-16, gives its code units below 0x100 as bytes, others as "?"). Nothing
  // when absent or of another type.
  std::optional<std::string> Text(uint32_t id) const;
  // Property 1; 0 when absent.
  uint16_t codePage() const { return codePage_; }

  // The stream with property 5 set to text (ASCII) as VT_LPSTR in the set's code page, added
  // when absent, every other property and section kept as stored.
  std::vector<uint8_t> WithKeywords(std::string_view text) const;

 private:
  struct Property {
    uint32_t id;
    std::vector<uint8_t> value;  // from its type word up to the next property or the section end
  };
  struct Section {
    std::array<uint8_t, 16> formatId;
    std::vector<uint8_t> bytes;  // the section as stored, for sections other than the summary's
  };
  std::vector<uint8_t> header_;  // byte order, version, system, class id
  std::vector<Section> sections_;
  size_t summarySection_ = 0;
  std::vector<Property> properties_;  // of the summary section, in the order of its table
  uint16_t codePage_ = 0;
};

}  // namespace packer
