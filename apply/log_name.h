// Installer log names that always name a file.
#pragma once

#include <string>

namespace updater {

// Whether Windows takes a file name for a device: its stem (the text before the first dot),
// with trailing blanks removed, is CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with the
// superscript digits 1-3), CONIN$ or CONOUT$, in any letter case. "NUL.x SP1.log",
// "COM1 .x SP1.log" and "conin$.txt" all name devices.
bool IsDeviceName(const std::wstring& fileName);

}  // namespace updater
