// Prints the temporary folder GetTempPathW gives this process: the control that shows which
// folder a relative TMP makes of the current one.
#include <windows.h>

#include <cstdio>

int wmain() {
  wchar_t path[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, path);
  if (length == 0 || length > MAX_PATH) {
    std::fprintf(stderr, "GetTempPathW gave %lu (error %lu)\n", length, GetLastError());
    return 1;
  }
  std::printf("%ls\n", path);
  return 0;
}
