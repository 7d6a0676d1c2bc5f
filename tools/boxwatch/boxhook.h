// What boxhook.dll and boxwatch.exe agree on.
#pragma once

#include <windows.h>

// Window property on a message box that carries the style passed to MessageBox. The tag bit above
// the 32-bit style lets a style of 0 (MB_OK, no icon) be told apart from a missing property.
inline constexpr wchar_t kBoxWatchStyleProp[] = L"BoxWatch.MessageBoxStyle";
inline constexpr ULONG_PTR kBoxWatchStyleTag = ULONG_PTR{1} << 32;

// The message text control of a message box (Windows and Wine alike).
inline constexpr int kBoxWatchTextId = 0xFFFF;
// The icon control of a message box.
inline constexpr int kBoxWatchIconId = 0x0440;

// Exported hook procedure (WH_CALLWNDPROCRET).
inline constexpr char kBoxWatchHookExport[] = "BoxWatchHook";
