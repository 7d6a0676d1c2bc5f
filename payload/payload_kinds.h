// The kinds of payload an update can carry, in the order they are applied and reported. The entry
// (extraction names), the run sequence and the information report all work from this one table,
// and so does the packer (tools/packer), which writes them into an update.
#pragma once

#include <array>
#include <cstdint>

namespace updater {

// String-table ids of the file name suffixes that extraction inserts ("_lp", "_ps"); the same in
// every language. The table's 316, the global payload's empty suffix, is not looked up.
inline constexpr uint32_t kSuffixLanguagePack = 317;
inline constexpr uint32_t kSuffixProductSpecific = 318;

inline constexpr wchar_t kPayloadGlobal[] = L"IDR_MSP";
inline constexpr wchar_t kPayloadLanguagePack[] = L"IDR_MSP_LP";
inline constexpr wchar_t kPayloadProductSpecific[] = L"IDR_MSP_PS";

struct PayloadKind {
  const wchar_t* resourceName;  // the resource of type "MSP"
  uint32_t suffixId;            // string id of the extraction suffix; 0 for none
  bool namesProduct;            // its products' names go into the messages (the global payload)
  const wchar_t* reportTitle;   // its heading in the information report
  uint16_t resourceLanguage;    // the language the packer gives its resource; 0 for neutral
  const char* packerOption;     // the packer's option that names its file
  const char* packerHelp;       // what the packer's usage says of that file
};

inline constexpr std::array<PayloadKind, 3> kPayloadKinds = {{
    {kPayloadGlobal, 0, true, L"Global MSP", 1033, "--global", "the patch for every language"},
    {kPayloadLanguagePack, kSuffixLanguagePack, false, L"Language pack MSP", 0, "--language-pack",
     "the language pack's patch"},
    {kPayloadProductSpecific, kSuffixProductSpecific, false, L"Product Specific MSP", 0,
     "--product-specific", "the product-specific patch"},
}};

}  // namespace updater
