// Installer log names that always name a file.
#pragma once

#include <string>

namespace updater {

// Whether Windows takes a file name for a device: its stem (the text before the first dot),
// with trailing blanks and dots removed, is CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with the
// superscript digits 1-3), CONIN$ or CONOUT$, in any letter case. "NUL.x SP1.log",
// "COM1 .x SP1.log" and "conin$.txt" all name devices.
bool IsDeviceName(const std::wstring& fileName);

// The log file of one product: "<logFolder>\<productName> SP1.log". Characters that cannot stand
// in a file name (a separator among them) become "_", so that a product name never steers the log
// elsewhere; a name too long for the 260-character path is shortened so that " SP1.log" stays.
// Empty when not even the folder and the fixed part fit.
std::wstring BuildLogPath(const std::wstring& logFolder, const std::wstring& productName);

// Where a link stands at the name of choice n, the log takes the next: choice 1 is
// "<productName> SP1.log", 2 and 3 are "<productName> (2) SP1.log" and "(3)", as BuildLogPath
// makes them.
inline constexpr int kLogNameChoices = 3;
std::wstring LogPathChoice(const std::wstring& logFolder, const std::wstring& productName, int n);

}  // namespace updater
