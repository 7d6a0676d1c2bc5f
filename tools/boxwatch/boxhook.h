// What boxhook.dll and boxwatch.exe agree on.
#pragma once

#include <windows.h>

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
