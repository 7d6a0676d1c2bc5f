// Global window-procedure hook that boxwatch installs. Wine (like Windows) maps this DLL into every
// GUI process on the desktop of its own bitness: the 64-bit build is installed by boxwatch.exe, the
// 32-bit build by boxhook32.exe on its behalf. When a message box finishes WM_INITDIALOG, the hook
// copies the MessageBox style the caller passed onto the box window as properties, which the
// watcher can read from its own process: the style is otherwise lost once the box is laid out.

#include <windows.h>

#include "boxhook.h"

namespace {

// The hook runs inside programs we do not control, so it touches the WM_INITDIALOG parameter only
// after proving the memory is committed and readable: a dialog that is not a message box may pass
// any value there.
bool Readable(const void* p, SIZE_T size) {
  MEMORY_BASIC_INFORMATION info;
  auto at = reinterpret_cast<ULONG_PTR>(p);
  const ULONG_PTR end = at + size;
  if (at == 0 || end < at) return false;
  while (at < end) {
    if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof(info)) != sizeof(info))
      return false;
    if (info.State != MEM_COMMIT) return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (!(info.Protect & readable) || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS))) return false;
    at = reinterpret_cast<ULONG_PTR>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

bool IsDialogClass(HWND hwnd) {
  wchar_t name[16];
  return GetClassNameW(hwnd, name, 16) == 6 && lstrcmpW(name, L"#32770") == 0;
}

void TagMessageBox(HWND hwnd, LPARAM param) {
  if (!IsDialogClass(hwnd) || !GetDlgItem(hwnd, kBoxWatchTextId)) return;
  const auto* box = reinterpret_cast<const MSGBOXPARAMSW*>(param);
  if (!Readable(box, sizeof(*box)) || box->cbSize != sizeof(MSGBOXPARAMSW)) return;
  SetPropW(hwnd, kBoxWatchStyleProp, reinterpret_cast<HANDLE>(ULONG_PTR{box->dwStyle}));
  SetPropW(hwnd, kBoxWatchStyleSetProp, reinterpret_cast<HANDLE>(ULONG_PTR{1}));
}

}  // namespace

extern "C" __attribute__((dllexport)) LRESULT CALLBACK BoxWatchHook(int code, WPARAM wparam,
                                                                    LPARAM lparam) {
  if (code == HC_ACTION) {
    const auto* msg = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
    if (msg->message == WM_INITDIALOG) TagMessageBox(msg->hwnd, msg->lParam);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}
