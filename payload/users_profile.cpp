#include "payload/users_profile.h"

#include "platform/full_path.h"

namespace updater {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t Upper(wchar_t c) {
  return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

}  // namespace

bool LiesWithin(const std::wstring& folder, const std::wstring& profile) {
  std::wstring base = profile;
  while (base.size() > 3 && IsSeparator(base.back())) base.pop_back();
  if (base.empty() || folder.size() < base.size()) return false;
  for (size_t i = 0; i < base.size(); ++i) {
    const bool both = IsSeparator(folder[i]) && IsSeparator(base[i]);
    if (!both && Upper(folder[i]) != Upper(base[i])) return false;
  }
  if (folder.size() > base.size() && !IsSeparator(folder[base.size()]) &&
      !IsSeparator(base.back())) {
    return false;
  }
  // Every part after the profile names a folder of its own.
  size_t start = base.size();
  while (start < folder.size()) {
    while (start < folder.size() && IsSeparator(folder[start])) ++start;
    size_t end = start;
    bool onlyDots = true;
    while (end < folder.size() && !IsSeparator(folder[end])) {
      if (folder[end] != L'.' && folder[end] != L' ') onlyDots = false;
      ++end;
    }
    if (end > start && onlyDots) return false;
    start = end;
  }
  return true;
}

bool LiesInUsersProfile(System& system, const std::wstring& folder) {
  const std::optional<std::wstring> profile = system.UserProfileFolder();
  return profile && IsFullPath(*profile) && LiesWithin(folder, *profile);
}

}  // namespace updater
