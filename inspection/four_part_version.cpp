#include "inspection/four_part_version.h"

#include <algorithm>
#include <limits>

#include "platform/decimal_text.h"

namespace updater {
namespace {

uint16_t LowBits(int32_t value) { return static_cast<uint16_t>(static_cast<uint32_t>(value)); }

}  // namespace

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
  return DecimalText(major) + L'.' + DecimalText(minor) + L'.' + DecimalText(build) + L'.' +
         DecimalText(revision);
}

}  // namespace updater
