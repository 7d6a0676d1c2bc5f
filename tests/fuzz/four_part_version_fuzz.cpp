// FromText on any text: no crash, the text form of a version reads back as the same version, and
// so it does with its trailing zero parts left out ("2.1.30" is 2.1.30.0).
#include <cstdlib>

#include "inspection/four_part_version.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using updater::FourPartVersion;
  const std::wstring text = updater::fuzzing::SmallText(data, size);
  const FourPartVersion version = FourPartVersion::FromText(text);
  const std::wstring printed = version.ToText();
  if (printed.size() > 23) std::abort();
  if (!FourPartVersion::FromText(printed).Equals(version)) std::abort();
  // Commas read as dots.
  std::wstring withCommas = printed;
  for (wchar_t& c : withCommas) c = c == L'.' ? L',' : c;
  if (!FourPartVersion::FromText(withCommas).Equals(version)) std::abort();
  std::wstring shorter = printed;
  while (shorter.size() > 2 && shorter.ends_with(L".0")) {
    shorter.resize(shorter.size() - 2);
    if (!FourPartVersion::FromText(shorter).Equals(version)) std::abort();
  }
  return 0;
}
