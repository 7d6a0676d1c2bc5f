// A one-line description of the running Windows release and edition, with its version.
#pragma once

#include <cstdint>
#include <string>

#include "inspection/four_part_version.h"
#include "platform/system.h"

namespace updater {

inline constexpr uint32_t kVerPlatformWin32Nt = 2;
inline constexpr uint8_t kVerNtWorkstation = 1;
inline constexpr uint16_t kVerSuitePersonal = 0x0200;
inline constexpr uint16_t kProcessorArchitectureAmd64 = 9;

inline constexpr uint32_t kOsVersionInfoExSize = 284;
inline constexpr uint32_t kOsVersionInfoSize = 276;

// The values the description is decided from.
struct OsFacts {
  OsVersionInfo version;
  uint16_t processorArchitecture = 0;
  bool extendedQuery = false;  // the query succeeded with the full OSVERSIONINFOEXW size
};

// Names the release (replacing description) and appends the edition word of 32-bit workstations,
// from the facts alone; sets version to (major, minor, 0, 0). A platform other than NT leaves both
// outputs as they are.
void DescribeFromFacts(const OsFacts& facts, std::wstring& description, FourPartVersion& version);

// Queries the platform (the full-size version query, else the basic one; the native processor
// architecture) and describes it. When no query succeeds both outputs stay as the caller set them.
void DescribeOperatingSystem(System& system, std::wstring& description, FourPartVersion& version);

}  // namespace updater
