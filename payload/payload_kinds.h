// The kinds of payload an update can carry, in the order they are applied and reported. The entry
// (extraction names), the run sequence and the information report all work from this one table.
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
};

inline constexpr std::array<PayloadKind, 3> kPayloadKinds = {{
    {kPayloadGlobal, 0, true, L"Global MSP"},
    {kPayloadLanguagePack, kSuffixLanguagePack, false, L"Language pack MSP"},
    {kPayloadProductSpecific, kSuffixProductSpecific, false, L"Product Specific MSP"},
}};

}  // namespace updater
