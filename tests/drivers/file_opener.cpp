// Opens a file the way another process of the user would, to attack a file the updater holds:
//   file_opener reader PATH SECONDS SHARING MARKER
//     opens PATH for reading (made when missing), sharing as SHARING says ("none", "write",
//     "write-delete"), makes the file MARKER once it holds PATH and keeps it open for SECONDS;
//     prints "held", or "failed <error>".
//   file_opener temp NAME
//     writes "x" to a new file NAME in the temporary folder (GetTempPathW), as a plain program
//     does; prints its path and "written", or "failed <error>".
//   file_opener delete PATH TRIES
//     tries TRIES times, 50 ms apart, to open PATH for deleting (sharing everything) and, when
//     opened, to rename it to PATH.moved and back; prints "opened <n> refused <n> error <last>".
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring mode = argv[1];
  const std::wstring path = argv[2];
  if (mode == L"temp") {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return 1;
    const std::wstring target = std::wstring(folder, length) + argv[2];
    HANDLE file = ::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      std::printf("failed %lu\n", ::GetLastError());
      return 1;
    }
    DWORD written = 0;
    ::WriteFile(file, "x", 1, &written, nullptr);
    ::CloseHandle(file);
    std::printf("%ls\nwritten\n", target.c_str());
    return 0;
  }
  if (mode == L"reader" && argc == 6) {
    const std::wstring sharing = argv[4];
    const DWORD share = sharing == L"write"          ? FILE_SHARE_WRITE
                        : sharing == L"write-delete" ? FILE_SHARE_WRITE | FILE_SHARE_DELETE
                                                     : 0;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      std::printf("failed %lu\n", ::GetLastError());
      return 1;
    }
    HANDLE marker = ::CreateFileW(argv[5], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) ::CloseHandle(marker);
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)) * 1000);
    ::CloseHandle(file);
    return 0;
  }
  if (mode == L"delete" && argc == 4) {
    const unsigned long tries = std::wcstoul(argv[3], nullptr, 10);
    unsigned long opened = 0, refused = 0;
    DWORD last = 0;
    const std::wstring moved = path + L".moved";
    for (unsigned long i = 0; i < tries; ++i) {
      HANDLE file = ::CreateFileW(path.c_str(), DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        ++refused;
        last = ::GetLastError();
      } else {
        ++opened;
        ::CloseHandle(file);
        // What an opening for deleting allows: the name taken away (and given back here).
        if (::MoveFileW(path.c_str(), moved.c_str())) ::MoveFileW(moved.c_str(), path.c_str());
      }
      ::Sleep(50);
    }
    std::printf("opened %lu refused %lu error %lu\n", opened, refused, last);
    return 0;
  }
  return 2;
}
