// Waits the number of seconds given and ends. A test product runs it as a custom action while it
// is patched, so that the updater's installer call lasts long enough to be interrupted.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  const long seconds = argc > 1 ? std::wcstol(argv[1], nullptr, 10) : 60;
  ::Sleep(static_cast<DWORD>(seconds > 0 ? seconds : 0) * 1000);
  return 0;
}
