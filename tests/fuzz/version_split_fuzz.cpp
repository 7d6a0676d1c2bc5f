// Reading property 5 of any value: a success splits at the first ";" and loses nothing; a
// failure is error 4316; the handle is always closed once.
#include <cstdlib>

#include "inspection/summary.h"
#include "tests/fakes/fake_installer.h"
#include "tests/fakes/fake_system.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring value = updater::fuzzing::SmallText(data, size);
  updater::testing::FakeSystem system;
  updater::testing::FakeInstaller installer;
  installer.AddPackage(L"C:\\Temp\\MSP2", L"{A}", value);
  const updater::PatchSummary summary = updater::ReadPatchSummary(installer, L"C:\\Temp\\MSP2");
  if (!summary.versions) std::abort();
  const updater::Outcome<updater::VersionTexts> split =
      updater::SplitVersionProperty(*summary.versions);
  const bool read = split.ok();
  // The service hands back a C string: what follows a NUL is not part of the value.
  const std::wstring stored = value.substr(0, value.find(L'\0'));
  const size_t separator = stored.find(L';');
  const bool splittable = separator != std::wstring::npos && separator != 0;
  if (read != splittable) std::abort();
  if (read && (split->upgradeVersion + L";" + split->targetVersions != stored ||
               split->upgradeVersion.find(L';') != std::wstring::npos)) {
    std::abort();
  }
  if (!read && split.error() != 4316) std::abort();
  if (installer.openHandles() != 0 || installer.doubleCloses() != 0) std::abort();
  return 0;
}
