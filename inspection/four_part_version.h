// Product versions as four 16-bit parts, compared for equality only.
#pragma once

#include <cstdint>
#include <string>

namespace updater {

struct FourPartVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t build = 0;
  uint16_t revision = 0;

  void Clear();
  // Stores the low 16 bits of each number.
  void Set(uint32_t newMajor, uint32_t newMinor, uint32_t newBuild, uint32_t newRevision);

  // Reads "a.b.c.d" (a "," counts as a "."), each part present as ReadDecimal reads it: parts
  // left out are 0, so "2.1.30" (the three-part form Windows Installer writes) is 2.1.30.0 and
  // "2" is 2.0.0.0; an empty part is 0; parts past the fourth are ignored.
  static FourPartVersion FromText(const std::wstring& text);

  bool Equals(const FourPartVersion& other) const;

  // "%d.%d.%d.%d" of the four parts, unsigned.
  std::wstring ToText() const;
};

}  // namespace updater
