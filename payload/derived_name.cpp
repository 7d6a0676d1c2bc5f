#include "payload/derived_name.h"

#include "platform/path_limits.h"
#include "platform/system.h"

namespace updater {

Outcome<std::wstring> DeriveTargetName(const std::wstring& target, const std::wstring& suffix) {
  const Failure tooLong{kErrorFilenameExcedRange};
  if (target.size() >= kMaxPathCapacity) return tooLong;

  const size_t separator = target.find_last_of(L"\\/:");
  const size_t componentStart = separator == std::wstring::npos ? 0 : separator + 1;
  const size_t dot = target.find_last_of(L'.');
  const size_t extensionStart =
      (dot == std::wstring::npos || dot < componentStart) ? target.size() : dot;

  const size_t nameLength = extensionStart - componentStart + suffix.size();
  const size_t extensionLength = target.size() - extensionStart;
  if (nameLength >= kMaxNameCapacity || extensionLength >= kMaxNameCapacity) return tooLong;

  std::wstring result = target.substr(0, extensionStart) + suffix + target.substr(extensionStart);
  if (result.size() >= kMaxPathCapacity) return tooLong;
  return result;
}

}  // namespace updater
