// What boxhook.dll and boxwatch.exe agree on.
#pragma once

#include <windows.h>

#include <string>

// Window properties on a message box: the style passed to MessageBox, and a mark set after it
// that tells a style of 0 (MB_OK, no icon) apart from a missing property. Two properties rather
// than a tag bit above the style, because a property of a 32-bit process holds 32 bits.
inline constexpr wchar_t kBoxWatchStyleProp[] = L"BoxWatch.MessageBoxStyle";
inline constexpr wchar_t kBoxWatchStyleSetProp[] = L"BoxWatch.MessageBoxStyleSet";

// The message text control of a message box (Windows and Wine alike).
inline constexpr int kBoxWatchTextId = 0xFFFF;
// The icon control of a message box.
inline constexpr int kBoxWatchIconId = 0x0440;

// Exported hook procedure (WH_CALLWNDPROCRET).
inline constexpr char kBoxWatchHookExport[] = "BoxWatchHook";

// The hook DLL beside the running program: boxwatch.exe and boxhook32.exe each have theirs, of
// their own bitness, in their own folder.
inline std::wstring BoxHookDllBesideSelf() {
  wchar_t self[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
  std::wstring path(self, n);
  const size_t slash = path.find_last_of(L"\\/");
  path.erase(slash == std::wstring::npos ? 0 : slash + 1);
  return path + L"boxhook.dll";
}
