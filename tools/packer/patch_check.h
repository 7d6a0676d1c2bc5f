// What the packer checks of a payload before carrying it, so that a broken or mistaken patch is
// found when the update is built rather than on the customers' machines: that it is a patch
// package at all, that the updater can read its target product codes (summary property 7) and its
// upgrade and target versions (summary property 5), and that the payloads fit the process that
// maps them. Also the one edit the packer makes to a patch: setting property 5 of its copy.
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

// The outcome of checking one payload. A refusal means it must not be carried; warnings are
// printed and it is carried. edited holds the bytes to carry instead of the file's when the
// check changed a copy of it (--versions).
struct PatchVerdict {
  std::optional<std::string> refusal;
  std::vector<std::string> warnings;
  std::optional<std::vector<uint8_t>> edited;
};

// Checks the patch package in bytes; messages begin with name (the file as the user gave it).
// With versions, property 5 of a copy is set to that text first (a signed patch gets a warning
// that this breaks its signature) and the copy is checked and returned in edited.
PatchVerdict CheckPatch(std::string_view name, std::span<const uint8_t> bytes,
                        const std::optional<std::string>& versions);

enum class Architecture { kX86, kX64 };

// The most payload bytes an update of the architecture may carry in total. For x86 it is what a
// 32-bit process without a large address space can be counted on to map as one image: 1 GiB.
uint64_t PayloadLimit(Architecture architecture);

// A refusal when payloads of total bytes exceed the limit of the architecture.
std::optional<std::string> CheckPayloadTotal(Architecture architecture, uint64_t total);

}  // namespace packer
