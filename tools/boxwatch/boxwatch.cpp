// boxwatch: records every message box that appears on the desktop as one JSON line and presses
// its OK button, so that end-to-end tests can run GUI programs under Wine without a person.
//
//   boxwatch.exe --out FILE [--stop-file FILE] [--ready-file FILE]
//                [--hook-dll FILE] [--hook32 FILE] [--no-hook] [--poll-ms N]
//
// It hooks the programs of one bitness: 64-bit ones with its own hook, or with --hook32 the
// 32-bit ones through the 32-bit helper, never both at once. See README.md beside this file for the
// record format and the limits.

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "boxhook.h"
#include "iconmatch.h"
#include "jsonline.h"

namespace {

struct Options {
  std::wstring out;
  std::wstring stop_file;
  std::wstring ready_file;
  std::wstring hook_dll;
  std::wstring hook32;
  bool use_hook = true;
  DWORD poll_ms = 10;
};

// How long a visible box may lack the style property before it is recorded without one. The hook
// sets the property during WM_INITDIALOG, before the box is shown, so with a working hook this
// wait never happens; it only bounds the cost when the hook DLL could not be loaded in the owner.
constexpr DWORD kStyleWaitMs = 500;
// How long a box whose style is unknown may show an icon that cannot be recognised before it is
// recorded as "unknown".
constexpr DWORD kIconWaitMs = 3000;
// A box that is still there this long after being pressed gets pressed again.
constexpr DWORD kRepressMs = 1000;

void Usage() {
  std::fputs(
      "usage: boxwatch --out FILE [--stop-file FILE] [--ready-file FILE]\n"
      "                [--hook-dll FILE] [--hook32 FILE] [--no-hook] [--poll-ms N]\n",
      stderr);
}

std::optional<Options> ParseArgs(int argc, wchar_t** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    auto value = [&](std::wstring& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    bool ok = true;
    if (arg == L"--out") {
      ok = value(o.out);
    } else if (arg == L"--stop-file") {
      ok = value(o.stop_file);
    } else if (arg == L"--ready-file") {
      ok = value(o.ready_file);
    } else if (arg == L"--hook-dll") {
      ok = value(o.hook_dll);
    } else if (arg == L"--hook32") {
      ok = value(o.hook32);
    } else if (arg == L"--no-hook") {
      o.use_hook = false;
    } else if (arg == L"--poll-ms") {
      std::wstring n;
      ok = value(n);
      if (ok) o.poll_ms = static_cast<DWORD>(std::wcstoul(n.c_str(), nullptr, 10));
    } else {
      ok = false;
    }
    if (!ok) return std::nullopt;
  }
  if (o.out.empty()) return std::nullopt;
  return o;
}

std::wstring WindowText(HWND hwnd) {
  // For a window of another process GetWindowTextW reads the text kept by the window manager and
  // sends no message, so a hung owner cannot block the watcher.
  std::wstring text(256, L'\0');
  for (;;) {
    const int n = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    if (n < static_cast<int>(text.size()) - 1) {
      text.resize(std::max(n, 0));
      return text;
    }
    text.assign(text.size() * 4, L'\0');
  }
}

std::wstring ClassName(HWND hwnd) {
  wchar_t name[64];
  const int n = GetClassNameW(hwnd, name, 64);
  return std::wstring(name, n > 0 ? n : 0);
}

struct Owner {
  std::wstring name;  // image name, empty when the process cannot be opened
  int bits = 0;       // 32 or 64; 0 when unknown
};

Owner OwnerProcess(DWORD pid) {
  Owner owner;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return owner;
  wchar_t path[MAX_PATH * 2];
  DWORD size = MAX_PATH * 2;
  if (QueryFullProcessImageNameW(process, 0, path, &size)) {
    owner.name.assign(path, size);
    const size_t slash = owner.name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) owner.name.erase(0, slash + 1);
  }
  // The watcher is a 64-bit program: a 32-bit owner runs under WOW64.
  BOOL wow64 = FALSE;
  if (IsWow64Process(process, &wow64)) owner.bits = wow64 ? 32 : 64;
  CloseHandle(process);
  return owner;
}

struct Button {
  int id;
  int left;
  std::wstring label;
};

BOOL CALLBACK CollectButton(HWND child, LPARAM param) {
  auto* buttons = reinterpret_cast<std::vector<Button>*>(param);
  if (!IsWindowVisible(child) || ClassName(child) != L"Button") return TRUE;
  RECT r;
  GetWindowRect(child, &r);
  std::wstring label;
  for (wchar_t c : WindowText(child)) {
    if (c != L'&') label += c;  // mnemonic markers are not part of what the user reads
  }
  buttons->push_back({GetDlgCtrlID(child), r.left, label});
  return TRUE;
}

std::vector<Button> Buttons(HWND box) {
  std::vector<Button> buttons;
  EnumChildWindows(box, CollectButton, reinterpret_cast<LPARAM>(&buttons));
  std::stable_sort(buttons.begin(), buttons.end(),
                   [](const Button& a, const Button& b) { return a.left < b.left; });
  return buttons;
}

const wchar_t* IconFromStyle(DWORD style) {
  switch (style & MB_ICONMASK) {
    case MB_ICONHAND:
      return L"error";
    case MB_ICONQUESTION:
      return L"question";
    case MB_ICONEXCLAMATION:
      return L"warning";
    case MB_ICONASTERISK:
      return L"information";
    case MB_USERICON:
      return L"user";
    default:
      return L"none";  // other values draw no icon
  }
}

std::optional<DWORD> StyleFromHook(HWND box) {
  if (!GetPropW(box, kBoxWatchStyleSetProp)) return std::nullopt;
  const auto value = reinterpret_cast<ULONG_PTR>(GetPropW(box, kBoxWatchStyleProp));
  return static_cast<DWORD>(value & 0xFFFFFFFFu);
}

// A top-level "#32770" dialog counts as a message box when it has the message text control.
bool IsMessageBox(HWND hwnd) {
  return ClassName(hwnd) == L"#32770" && GetDlgItem(hwnd, kBoxWatchTextId) != nullptr;
}

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
  if (ClassName(hwnd) == L"#32770") reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

class Watcher {
 public:
  Watcher(HANDLE out, bool hook_active) : out_(out), hook_active_(hook_active) {}

  // One pass over the desktop. With `final` set, boxes are recorded without waiting for the style.
  void Scan(bool final) {
    std::vector<HWND> dialogs;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
    const DWORD now = GetTickCount();
    for (HWND hwnd : dialogs) {
      auto [it, fresh] = seen_.try_emplace(hwnd, Seen{now, 0, false});
      Seen& s = it->second;
      if (s.recorded) {
        if (now - s.pressed_at >= kRepressMs && IsWindow(hwnd)) Press(hwnd, s, now);
        continue;
      }
      // Wine shows a message box only after WM_INITDIALOG has filled it in.
      if (!IsWindowVisible(hwnd) || !IsMessageBox(hwnd)) continue;
      std::optional<DWORD> style = StyleFromHook(hwnd);
      if (!style && hook_active_ && !final && now - s.first_seen < kStyleWaitMs) continue;
      const wchar_t* icon = style ? IconFromStyle(*style)
                                  : boxwatch::IconOfBox(hwnd, GetDlgItem(hwnd, kBoxWatchIconId));
      // An icon that matches nothing is usually one covered by another box, which goes away once
      // that box is pressed, or one not painted yet.
      if (icon == std::wstring_view(L"unknown") && !final && now - s.first_seen < kIconWaitMs) {
        continue;
      }
      Record(hwnd, style, icon);
      s.recorded = true;
      Press(hwnd, s, now);
    }
    // Forget boxes that are gone, so the table stays small over a long run.
    std::erase_if(seen_, [](const auto& entry) { return !IsWindow(entry.first); });
  }

 private:
  struct Seen {
    DWORD first_seen;
    DWORD pressed_at;
    bool recorded;
  };

  void Record(HWND box, std::optional<DWORD> style, const wchar_t* icon) {
    DWORD pid = 0;
    const DWORD tid = GetWindowThreadProcessId(box, &pid);
    const bool window_topmost = (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    std::vector<std::wstring> labels;
    std::vector<int64_t> ids;
    for (const Button& b : Buttons(box)) {
      labels.push_back(b.label);
      ids.push_back(b.id);
    }
    boxwatch::JsonObject json;
    json.Int("seq", ++count_)
        .Str("caption", WindowText(box))
        .Str("text", WindowText(GetDlgItem(box, kBoxWatchTextId)));
    json.Str("icon", icon);
    if (style) {
      json.Int("flags", *style).Bool("topmost", (*style & MB_TOPMOST) != 0);
    } else {
      json.Null("flags").Bool("topmost", window_topmost);
    }
    const Owner owner = OwnerProcess(pid);
    json.Bool("window_topmost", window_topmost)
        .StrList("buttons", labels)
        .IntList("button_ids", ids)
        .Int("pid", pid)
        .Int("tid", tid)
        .Str("process", owner.name);
    if (owner.bits) {
      json.Int("bits", owner.bits);
    } else {
      json.Null("bits");
    }
    json.Int("hwnd", static_cast<int64_t>(reinterpret_cast<ULONG_PTR>(box)))
        .Str("source", style ? L"hook" : L"window");
    const std::string line = json.Line();
    DWORD written = 0;
    WriteFile(out_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    FlushFileBuffers(out_);
  }

  // OK when the box has it, else Cancel, else its first button: the one choice that always ends a
  // box the way a user acknowledging it would.
  static int ButtonToPress(HWND box) {
    const std::vector<Button> buttons = Buttons(box);
    for (int wanted : {IDOK, IDCANCEL}) {
      for (const Button& b : buttons) {
        if (b.id == wanted) return wanted;
      }
    }
    return buttons.empty() ? IDOK : buttons.front().id;
  }

  void Press(HWND box, Seen& s, DWORD now) {
    const int id = ButtonToPress(box);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
    s.pressed_at = now;
  }

  HANDLE out_;
  bool hook_active_;
  int64_t count_ = 0;
  std::map<HWND, Seen> seen_;
};

bool FileExists(const std::wstring& path) {
  return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The 32-bit helper that holds the hook for 32-bit programs; see boxhook32.cpp.
class Hook32 {
 public:
  Hook32() = default;
  Hook32(const Hook32&) = delete;
  Hook32& operator=(const Hook32&) = delete;
  ~Hook32() { Stop(); }

  // Starts the helper and waits until its hook is installed; false (with a message) otherwise.
  bool Start(const std::wstring& exe) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    ready_ = CreateEventW(&inherit, TRUE, FALSE, nullptr);
    stop_ = CreateEventW(&inherit, TRUE, FALSE, nullptr);
    if (!ready_ || !stop_ ||
        !DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self_,
                         SYNCHRONIZE, TRUE, 0)) {
      return Fail(L"cannot create its events");
    }
    std::wstring command =
        L"\"" + exe + L"\" " + Number(ready_) + L" " + Number(stop_) + L" " + Number(self_);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &info)) {
      return Fail(L"cannot be started");
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    const HANDLE waits[] = {ready_, process_};
    if (WaitForMultipleObjects(2, waits, FALSE, 30000) != WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(process_, &code);
      std::fprintf(stderr, "boxwatch: the 32-bit hook helper did not install its hook (exit %lu)\n",
                   code);
      return false;
    }
    return true;
  }

  // True from a successful Start until Stop.
  bool Running() const { return process_ != nullptr; }

  void Stop() {
    if (process_) {
      SetEvent(stop_);
      if (WaitForSingleObject(process_, 5000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
      CloseHandle(process_);
      process_ = nullptr;
    }
    for (HANDLE* h : {&ready_, &stop_, &self_}) {
      if (*h) CloseHandle(*h);
      *h = nullptr;
    }
  }

 private:
  static std::wstring Number(HANDLE h) { return std::to_wstring(reinterpret_cast<ULONG_PTR>(h)); }
  static bool Fail(const wchar_t* what) {
    std::fprintf(stderr, "boxwatch: the 32-bit hook helper %ls (error %lu)\n", what,
                 GetLastError());
    return false;
  }

  HANDLE ready_ = nullptr;
  HANDLE stop_ = nullptr;
  HANDLE self_ = nullptr;
  HANDLE process_ = nullptr;
};

HHOOK InstallHook(const std::wstring& dll) {
  HMODULE module = LoadLibraryW(dll.c_str());
  if (!module) return nullptr;
  auto proc = reinterpret_cast<HOOKPROC>(
      reinterpret_cast<void*>(GetProcAddress(module, kBoxWatchHookExport)));
  if (!proc) return nullptr;
  return SetWindowsHookExW(WH_CALLWNDPROCRET, proc, module, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::optional<Options> options = ParseArgs(argc, argv);
  if (!options) {
    Usage();
    return 2;
  }
  HANDLE out = CreateFileW(options->out.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "boxwatch: cannot create output file (error %lu)\n", GetLastError());
    return 2;
  }
  // One hook, of the bitness of the programs watched: a global hook reaches only programs of its
  // own DLL's bitness, and under Wine a hook of the other bitness in the same chain makes the
  // hooks after it lose the message parameter (boxes would come without their flags). So with
  // --hook32 the 32-bit helper holds the hook and this process installs none.
  HHOOK hook = nullptr;
  Hook32 hook32;
  if (options->use_hook && options->hook32.empty()) {
    hook = InstallHook(options->hook_dll.empty() ? BoxHookDllBesideSelf() : options->hook_dll);
    if (!hook) std::fprintf(stderr, "boxwatch: hook not installed (error %lu)\n", GetLastError());
  } else if (options->use_hook && !hook32.Start(options->hook32)) {
    // Asked for, the 32-bit hook is required: without it boxes of 32-bit programs would silently
    // lose their exact flags.
    CloseHandle(out);
    return 3;
  }
  const bool hooked = hook != nullptr || hook32.Running();

  Watcher watcher(out, hooked);
  // Boxes already on screen are handled before announcing readiness.
  watcher.Scan(false);
  const char* ready = !hooked ? "ready nohook\n" : hook ? "ready hook\n" : "ready hook32\n";
  if (!options->ready_file.empty()) {
    HANDLE f = CreateFileW(options->ready_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(f, ready, static_cast<DWORD>(std::strlen(ready)), &written, nullptr);
      CloseHandle(f);
    }
  }
  std::fputs(ready, stdout);
  std::fflush(stdout);

  for (;;) {
    // Checked before the pass, so that the last pass sees every box shown before the stop.
    const bool stop = FileExists(options->stop_file);
    watcher.Scan(stop);
    if (stop) break;
    Sleep(options->poll_ms);
  }
  hook32.Stop();
  if (hook) UnhookWindowsHookEx(hook);
  CloseHandle(out);
  return 0;
}
