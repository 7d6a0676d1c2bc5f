// showboxes: a GUI program that shows a fixed series of message boxes, for testing boxwatch.
//
//   showboxes.exe [--count N] [--concurrent] [--exit CODE] [--sleep MS]
//
// --count N      show only the first N boxes of the table (default: all)
// --concurrent   show the boxes from one thread each, all at the same time
// --exit CODE    exit code when every box returned the expected button (default 0)
// --sleep MS     sleep this long before exiting (to test a harness timeout)
// --stall MS     once each box is up, keep its thread busy this long, so that the box stays on
//                screen after it has been pressed (to test that it is recorded only once)
//
// Each box must return the button that the watcher is meant to press (OK); otherwise the exit code
// is 100 + the index of the first box that returned something else. The process id and each
// result are written to standard output when the program has one.

#include <windows.h>
// windows.h first
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Box {
  const wchar_t* caption;
  const wchar_t* text;
  UINT flags;
};

// Keep in step with tests/e2e/test_boxwatch.py, which expects exactly these boxes.
constexpr Box kBoxes[] = {
    {L"Installation Error", L"The update could not be applied.\nError code: 1603", 0x50010},
    {L"Installation Successful", L"Contoso Viewer has been updated.", 0x50040},
    {L"Info", L"Line one\nLine two\n\n\tindented line four\r\nend", 0x50030},
    {L"Error", L"A box without an icon.", 0x50000},
    {L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb \u30a8\u30e9\u30fc",
     L"\u66f4\u65b0\u30d7\u30ed\u30b0\u30e9\u30e0\u3092\u9069\u7528\u3067\u304d\u307e\u305b\u3093"
     L"\u3067\u3057\u305f\u3002",
     0x50010},
    {L"\u041e\u0448\u0438\u0431\u043a\u0430",
     L"\u041e\u0431\u043d\u043e\u0432\u043b\u0435\u043d\u0438\u0435 \u043d\u0435 "
     L"\u0442\u0440\u0435\u0431\u0443\u0435\u0442\u0441\u044f.",
     0x50040},
    {L"\u5b89\u88c5\u6210\u529f", L"\u4ea7\u54c1\u5df2\u66f4\u65b0\u3002\n\U0001F600 \"C:\\Temp\"",
     0x50030},
    {L"Question", L"Continue?", MB_OKCANCEL | MB_ICONQUESTION},
};
constexpr int kBoxCount = sizeof(kBoxes) / sizeof(kBoxes[0]);

DWORD g_stall_ms = 0;

// Runs on the box's thread right after the box has become visible: the box stays on screen,
// handling no input, until this returns.
LRESULT CALLBACK Stall(int code, WPARAM wparam, LPARAM lparam) {
  const auto* msg = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
  if (code == HC_ACTION && msg->message == WM_WINDOWPOSCHANGED &&
      (reinterpret_cast<const WINDOWPOS*>(msg->lParam)->flags & SWP_SHOWWINDOW) &&
      !GetParent(msg->hwnd)) {
    Sleep(g_stall_ms);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// A GUI program may have no standard output; printing then does nothing.
template <typename... Args>
void Print(const char* format, Args... args) {
  std::printf(format, args...);
  std::fflush(stdout);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = kBoxCount;
  bool concurrent = false;
  int exit_code = 0;
  DWORD sleep_ms = 0;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const wchar_t* value = i + 1 < argc ? argv[i + 1] : L"0";
    if (arg == L"--count") {
      count = static_cast<int>(std::wcstol(value, nullptr, 10));
      ++i;
    } else if (arg == L"--exit") {
      exit_code = static_cast<int>(std::wcstol(value, nullptr, 10));
      ++i;
    } else if (arg == L"--sleep") {
      sleep_ms = static_cast<DWORD>(std::wcstoul(value, nullptr, 10));
      ++i;
    } else if (arg == L"--stall") {
      g_stall_ms = static_cast<DWORD>(std::wcstoul(value, nullptr, 10));
      ++i;
    } else if (arg == L"--concurrent") {
      concurrent = true;
    } else {
      return 2;
    }
  }
  LocalFree(argv);
  if (count < 0 || count > kBoxCount) count = kBoxCount;

  Print("pid=%lu\n", GetCurrentProcessId());
  std::vector<int> results(count, 0);
  auto show = [&](int i) {
    HHOOK hook = g_stall_ms
                     ? SetWindowsHookExW(WH_CALLWNDPROCRET, Stall, nullptr, GetCurrentThreadId())
                     : nullptr;
    results[i] = MessageBoxW(nullptr, kBoxes[i].text, kBoxes[i].caption, kBoxes[i].flags);
    if (hook) UnhookWindowsHookEx(hook);
  };
  if (concurrent) {
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) threads.emplace_back(show, i);
    for (std::thread& t : threads) t.join();
  } else {
    for (int i = 0; i < count; ++i) show(i);
  }
  for (int i = 0; i < count; ++i) Print("box %d returned %d\n", i, results[i]);
  if (sleep_ms) Sleep(sleep_ms);
  for (int i = 0; i < count; ++i) {
    if (results[i] != IDOK) return 100 + i;
  }
  return exit_code;
}
