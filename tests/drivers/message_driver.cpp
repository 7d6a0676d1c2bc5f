// Shows catalogue message boxes under a given thread locale, as the updater would.
//   message_driver LOCALE PRODUCT_NAME LAST_ERROR ID [ID ...]
#include <windows.h>

#include <cwchar>

#include "messages/message_box.h"
#include "platform/win32_system.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) return 2;
  updater::Win32System system(GetModuleHandleW(nullptr));
  bool quiet = false;
  updater::MessageBoxes messages(system, quiet);
  messages.SetMessageProductName(argv[2]);
  system.SetThreadLocaleId(static_cast<uint32_t>(std::wcstoul(argv[1], nullptr, 10)));
  const uint32_t lastError = static_cast<uint32_t>(std::wcstoul(argv[3], nullptr, 0));
  for (int i = 4; i < argc; ++i) {
    system.SetLastErrorCode(lastError);
    messages.ShowMessage(static_cast<uint32_t>(std::wcstoul(argv[i], nullptr, 10)));
  }
  return 0;
}
