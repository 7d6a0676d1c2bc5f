#include "tools/patch_builder/transform_summary.h"

#include "tools/patch_builder/property_set.h"

namespace patch_builder {

std::vector<uint8_t> TransformSummary(const TransformIdentity& t) {
  PropertySet set;
  set.SetShort(pid::kCodePage, 1252);
  set.SetText(pid::kTemplate, t.oldTemplate);
  set.SetText(pid::kLastSavedBy, t.newTemplate);
  set.SetText(pid::kRevisionNumber, t.oldProductCode + t.oldVersion + ";" + t.newProductCode +
                                        t.newVersion + ";" + t.upgradeCode);
  set.SetInt(pid::kPageCount, t.pageCount);
  set.SetInt(pid::kCharacterCount, static_cast<int32_t>(transform_flags::kCharacterCount));
  return set.Serialize();
}

std::vector<uint8_t> PatchSummary(const PatchIdentity& p) {
  auto join = [](const std::vector<std::string>& parts, const std::string& separator,
                 const std::string& prefix) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : separator) + prefix + part;
    return text;
  };
  PropertySet set;
  set.SetShort(pid::kCodePage, 1252);
  set.SetText(pid::kTitle, "Patch");
  set.SetText(pid::kSubject, p.displayName);
  set.SetText(pid::kAuthor, p.manufacturer);
  // This updater's convention: the upgrade version, then the versions it applies to.
  set.SetText(pid::kKeywords, p.newVersion + ";" + join(p.oldVersions, ",", ""));
  set.SetText(pid::kComments, "This patch contains the logic and data required to install " +
                                  p.productName + " " + p.newVersion + ".");
  set.SetText(pid::kTemplate, join(p.targetProductCodes, ";", ""));
  set.SetText(pid::kLastSavedBy, join(p.transformNames, ";", ":"));
  set.SetText(pid::kRevisionNumber, p.patchCode);
  set.SetText(pid::kApplicationName, "Quorvex patch builder");
  return set.Serialize();
}

}  // namespace patch_builder
