#include "apply/log_name.h"

#include <array>

namespace updater {

bool IsDeviceName(const std::wstring& fileName) {
  std::wstring stem = fileName.substr(0, fileName.find(L'.'));
  while (!stem.empty() && (stem.back() == L' ' || stem.back() == L'.')) stem.pop_back();
  for (wchar_t& c : stem) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  static constexpr std::array<const wchar_t*, 6> kNamed = {L"CON", L"PRN",    L"AUX",
                                                           L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* name : kNamed) {
    if (stem == name) return true;
  }
  if (stem.size() != 4 || (stem.compare(0, 3, L"COM") != 0 && stem.compare(0, 3, L"LPT") != 0)) {
    return false;
  }
  const wchar_t digit = stem[3];
  // Superscript one, two and three count as digits here.
  return (digit >= L'0' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
}

}  // namespace updater
