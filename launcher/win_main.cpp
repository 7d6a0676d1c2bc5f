// The GUI entry point: binds the updater to Win32 and runs it.
#include <windows.h>

#include "launcher/entry.h"
#include "platform/win32_installer.h"
#include "platform/win32_system.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  updater::Win32System system(instance);
  updater::Win32Installer installer;
  return updater::RunUpdater(system, installer);
}
