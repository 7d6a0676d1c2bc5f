#include "inspection/four_part_version.h"

#include <algorithm>
#include <limits>

namespace updater {
namespace {

bool IsSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

uint16_t LowBits(int32_t value) { return static_cast<uint16_t>(static_cast<uint32_t>(value)); }

}  // namespace

int32_t ReadDecimal(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  int64_t magnitude = 0;
  constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    magnitude = std::min<int64_t>(magnitude * 10 + (text[i] - L'0'), kLimit);
  }
  if (negative) return static_cast<int32_t>(-magnitude);
  return static_cast<int32_t>(std::min<int64_t>(magnitude, kLimit - 1));
}

void FourPartVersion::Clear() { major = minor = build = revision = 0; }

void FourPartVersion::Set(uint32_t newMajor, uint32_t newMinor, uint32_t newBuild,
                          uint32_t newRevision) {
  major = static_cast<uint16_t>(newMajor);
  minor = static_cast<uint16_t>(newMinor);
  build = static_cast<uint16_t>(newBuild);
  revision = static_cast<uint16_t>(newRevision);
}

FourPartVersion FourPartVersion::FromText(const std::wstring& text) {
  FourPartVersion version;
  std::wstring rest = text;
  std::replace(rest.begin(), rest.end(), L',', L'.');
  uint16_t* const parts[] = {&version.major, &version.minor, &version.build, &version.revision};
  size_t start = 0;
  for (uint16_t* part : parts) {
    const size_t dot = rest.find(L'.', start);
    *part = LowBits(ReadDecimal(rest.substr(start, dot - start)));
    if (dot == std::wstring::npos) break;
    start = dot + 1;
  }
  return version;
}

bool FourPartVersion::Equals(const FourPartVersion& other) const {
  return major == other.major && minor == other.minor && build == other.build &&
         revision == other.revision;
}

std::wstring FourPartVersion::ToText() const {
  return std::to_wstring(major) + L'.' + std::to_wstring(minor) + L'.' + std::to_wstring(build) +
         L'.' + std::to_wstring(revision);
}

}  // namespace updater
