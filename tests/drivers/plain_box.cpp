// A plain program that shows one message box and ends when it is closed: the control that shows
// what a box does where nobody can see it.
#include <windows.h>

int wmain() { return ::MessageBoxW(nullptr, L"A plain box.", L"Plain", MB_OK) == IDOK ? 0 : 1; }
