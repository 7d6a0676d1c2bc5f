// The GUI entry point: binds the updater to Win32 and runs it.
#include <windows.h>

#include "launcher/entry.h"
#include "platform/win32_dll_search.h"
#include "platform/win32_installer.h"
#include "platform/win32_system.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL by name: a DLL planted beside the update would otherwise run
  // with the update's rights.
  updater::RestrictDllSearch();
  updater::Win32System system(instance);
  updater::Win32Installer installer(system);
  return updater::RunUpdater(system, installer);
}
