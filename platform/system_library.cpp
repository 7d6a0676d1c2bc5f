#include "platform/system_library.h"

namespace updater {

Outcome<void*> LoadSystemLibrary(System& system, const std::wstring& name) {
  Outcome<void*> library = system.LoadSystem32Library(name);
  if (library || library.error() != kErrorInvalidParameter) return library;
  const std::optional<std::wstring> folder = system.SystemFolder();
  if (!folder || folder->empty()) return library;
  return system.LoadLibraryAtPath(*folder + L"\\" + name);
}

}  // namespace updater
