// The summary information of the transforms and of the patch package, with the values
// Microsoft's documentation gives them (Character Count, Revision Number, Template and Last Saved
// By of a transform; Template, Last Saved By and Revision Number of a patch).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace patch_builder {

// Transform validation flags (MSITRANSFORM_VALIDATE_*) and error conditions to suppress
// (MSITRANSFORM_ERROR_*), as MsiCreateTransformSummaryInfo names them.
namespace transform_flags {
inline constexpr uint16_t kValidateLanguage = 0x0001;
inline constexpr uint16_t kValidateProduct = 0x0002;
inline constexpr uint16_t kValidatePlatform = 0x0004;
inline constexpr uint16_t kValidateMajorVersion = 0x0008;
inline constexpr uint16_t kValidateMinorVersion = 0x0010;
inline constexpr uint16_t kValidateUpdateVersion = 0x0020;
inline constexpr uint16_t kValidateNewEqualBaseVersion = 0x0100;
inline constexpr uint16_t kValidateUpgradeCode = 0x0800;
inline constexpr uint16_t kErrorAddExistingRow = 0x0001;
inline constexpr uint16_t kErrorDeleteMissingRow = 0x0002;
inline constexpr uint16_t kErrorAddExistingTable = 0x0004;
inline constexpr uint16_t kErrorDeleteMissingTable = 0x0008;
inline constexpr uint16_t kErrorUpdateMissingRow = 0x0010;
inline constexpr uint16_t kErrorChangeCodePage = 0x0020;

// Each transform of a patch applies to its own target alone: the same product and upgrade code,
// installed at exactly the old build's version (major.minor.update).
inline constexpr uint16_t kValidation =
    kValidateProduct | kValidateUpgradeCode | kValidateUpdateVersion | kValidateNewEqualBaseVersion;
// A paired transform replaces whole File rows and the patch may meet a product already patched
// by an earlier patch of its family: rows that exist or are missing are no error.
inline constexpr uint16_t kErrors = kErrorAddExistingRow | kErrorDeleteMissingRow |
                                    kErrorDeleteMissingTable | kErrorUpdateMissingRow;
// Property 16: the validation flags in the upper word, the error conditions in the lower one.
inline constexpr uint32_t kCharacterCount = (uint32_t{kValidation} << 16) | kErrors;
}  // namespace transform_flags

struct TransformIdentity {
  std::string oldTemplate;  // property 7 of each database: "platform;language"
  std::string newTemplate;
  std::string oldProductCode, oldVersion;
  std::string newProductCode, newVersion;
  std::string upgradeCode;
  int32_t pageCount = 200;  // the larger Page Count of the two databases
};

std::vector<uint8_t> TransformSummary(const TransformIdentity& identity);

struct PatchIdentity {
  std::string patchCode;
  std::vector<std::string> targetProductCodes;  // without repeats
  std::vector<std::string> transformNames;      // in the order they are applied
  std::string newVersion;
  std::vector<std::string> oldVersions;
  std::string displayName;
  std::string manufacturer;
  std::string productName;
};

std::vector<uint8_t> PatchSummary(const PatchIdentity& identity);

}  // namespace patch_builder
