#include "payload/derived_name.h"

#include "messages/catalogue.h"

namespace updater {

bool DeriveTargetName(System& system, const std::wstring& target, uint32_t suffixId,
                      std::wstring& derived) {
  if (target.size() >= kMaxPathCapacity) return false;

  const size_t separator = target.find_last_of(L"\\/:");
  const size_t componentStart = separator == std::wstring::npos ? 0 : separator + 1;
  const size_t dot = target.find_last_of(L'.');
  const size_t extensionStart =
      (dot == std::wstring::npos || dot < componentStart) ? target.size() : dot;

  std::wstring suffix;
  if (suffixId != 0) LoadText(system, suffixId, suffix, kMaxPathCapacity);

  const size_t nameLength = extensionStart - componentStart + suffix.size();
  const size_t extensionLength = target.size() - extensionStart;
  if (nameLength >= kMaxNameCapacity || extensionLength >= kMaxNameCapacity) return false;

  std::wstring result = target.substr(0, extensionStart) + suffix + target.substr(extensionStart);
  if (result.size() >= kMaxPathCapacity) return false;
  derived = std::move(result);
  return true;
}

}  // namespace updater
