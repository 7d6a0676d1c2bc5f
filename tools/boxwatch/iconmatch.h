// Tells which standard icon a message box shows by comparing the pixels of its icon control on
// screen with the system icons drawn by the watcher. Used only when the box's style is unknown.
#pragma once

#include <windows.h>

namespace boxwatch {

// "error", "question", "warning", "information", "none", or "unknown" when the control shows an
// icon whose pixels on screen match none of the four (another window covers it, it is not painted
// yet, or it is some other picture). Takes a few tens of milliseconds at most.
const wchar_t* IconOfBox(HWND box, HWND icon_control);

}  // namespace boxwatch
