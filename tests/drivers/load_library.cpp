// Loads a library the ordinary way (the standard search order, the program's own folder first)
// and prints whether that worked: the control that shows a planted DLL would be picked up.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HMODULE library = LoadLibraryW(argv[1]);
  std::printf("%s\n", library != nullptr ? "loaded" : "failed");
  return 0;
}
