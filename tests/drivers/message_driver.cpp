// Shows catalogue message boxes in a given language, as the updater would.
//   message_driver LOCALE PRODUCT_NAME ERROR_CODE ID [ID ...]
#include <windows.h>

#include <cwchar>

#include "messages/message_box.h"
#include "platform/win32_system.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) return 2;
  updater::Win32System system(GetModuleHandleW(nullptr));
  updater::MessageBoxes messages(system, false);
  const updater::MessageContext context{static_cast<uint32_t>(std::wcstoul(argv[1], nullptr, 10)),
                                        argv[2],
                                        static_cast<uint32_t>(std::wcstoul(argv[3], nullptr, 0))};
  for (int i = 4; i < argc; ++i) {
    messages.ShowMessage(static_cast<uint32_t>(std::wcstoul(argv[i], nullptr, 10)), context);
  }
  return 0;
}
