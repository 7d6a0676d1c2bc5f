// A one-line description of the running Windows release and edition, with its version.
#pragma once

#include <cstdint>
#include <optional>
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

// The name of the release with this version and product type (any product type but
// VER_NT_WORKSTATION names a server), ending in one blank except "Microsoft Windows Server 2003".
// Releases from 6.0 on are named from the version, and for 10.0 from the build number; a 6.x or
// later release that has no name of its own is "Windows " or "Windows Server ". The architecture
// matters only for 5.2. Nothing for 5.3 to 5.x, which keep the caller's text.
std::optional<std::wstring> ReleaseName(uint32_t major, uint32_t minor, uint32_t build,
                                        uint8_t productType, uint16_t architecture);

// Names the release (replacing description) and appends the edition word of 32-bit workstations,
// from the facts alone; sets version to (major, minor, 0, 0). A platform other than NT leaves both
// outputs as they are.
void DescribeFromFacts(const OsFacts& facts, std::wstring& description, FourPartVersion& version);

// Queries the platform and describes it. The version comes from the true version query
// (RtlGetVersion), full size, else basic size; only when that query gives nothing at either size
// does GetVersionExW answer, full size, else basic size. The architecture is the native one. When
// no query succeeds both outputs stay as the caller set them.
void DescribeOperatingSystem(System& system, std::wstring& description, FourPartVersion& version);

// The line that names the running Windows in the report and the run log: the description
// ("Windows" when no query succeeds) followed by its version in parentheses, as in
// "Windows 7 Professional (6.1.0.0)".
std::wstring DescribeWindows(System& system);

}  // namespace updater
