#include "iconmatch.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

namespace boxwatch {
namespace {

// Mean difference per colour channel over the icon's opaque pixels, above which a capture is taken
// to show some other picture (or a box that has not been painted yet).
constexpr long kMatchLimit = 24;
constexpr int kCaptureTries = 3;
constexpr DWORD kCaptureRetryMs = 25;

class Bitmap {
 public:
  Bitmap(HDC reference, int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(reference);
    bitmap_ =
        CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    previous_ = SelectObject(dc_, bitmap_);
  }
  ~Bitmap() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  bool ok() const { return bits_ != nullptr; }
  HDC dc() const { return dc_; }
  uint32_t at(int i) const { return bits_[i] & 0xFFFFFF; }
  int size() const { return width_ * height_; }
  void Fill(COLORREF colour) {
    GdiFlush();
    for (int i = 0; i < size(); ++i) bits_[i] = colour;
  }

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  uint32_t* bits_ = nullptr;
};

long ChannelDifference(uint32_t a, uint32_t b) {
  long sum = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    sum +=
        std::labs(static_cast<long>((a >> shift) & 0xFF) - static_cast<long>((b >> shift) & 0xFF));
  }
  return sum;
}

// Mean channel difference between the capture and the icon, over the pixels that the icon covers
// fully (the same colour on black and on white); LONG_MAX when the icon cannot be drawn.
long Score(const Bitmap& capture, HDC reference, HICON icon, int width, int height) {
  Bitmap on_black(reference, width, height), on_white(reference, width, height);
  if (!on_black.ok() || !on_white.ok()) return std::numeric_limits<long>::max();
  on_black.Fill(0x000000);
  on_white.Fill(0xFFFFFF);
  DrawIconEx(on_black.dc(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  DrawIconEx(on_white.dc(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  GdiFlush();
  long total = 0, pixels = 0;
  for (int i = 0; i < capture.size(); ++i) {
    if (on_black.at(i) != on_white.at(i)) continue;
    total += ChannelDifference(capture.at(i), on_black.at(i));
    ++pixels;
  }
  return pixels ? total / (3 * pixels) : std::numeric_limits<long>::max();
}

struct Candidate {
  WORD resource;  // IDI_HAND and friends, which are not constant expressions
  const wchar_t* name;
};

constexpr Candidate kCandidates[] = {
    {32513, L"error"},
    {32514, L"question"},
    {32515, L"warning"},
    {32516, L"information"},
};

}  // namespace

const wchar_t* IconOfBox(HWND box, HWND icon_control) {
  if (!icon_control) return L"none";
  DWORD_PTR icon = 0;
  if (!SendMessageTimeoutW(icon_control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 1000, &icon)) {
    return L"unknown";
  }
  if (!icon) return L"none";
  RECT r;
  if (!GetWindowRect(icon_control, &r)) return L"unknown";
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return L"unknown";

  // What the screen shows there belongs to another window when a box is covered, and that window
  // may show a standard icon at the very same place.
  const POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  const HWND on_top = WindowFromPoint(centre);
  if (on_top != icon_control && GetAncestor(on_top, GA_ROOT) != box) {
    // Raise the box so that a later look sees it. The box's own thread carries this out.
    SetWindowPos(box, HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
    return L"unknown";
  }

  HDC screen = GetDC(nullptr);
  const wchar_t* result = L"unknown";
  for (int attempt = 0; attempt < kCaptureTries; ++attempt) {
    // The box may still be painting; ask for the paint and look again until a picture matches.
    RedrawWindow(box, nullptr, nullptr, RDW_UPDATENOW);
    Bitmap capture(screen, width, height);
    if (!capture.ok()) break;
    BitBlt(capture.dc(), 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    long best = std::numeric_limits<long>::max();
    for (const Candidate& c : kCandidates) {
      const long score =
          Score(capture, screen, LoadIconW(nullptr, MAKEINTRESOURCEW(c.resource)), width, height);
      if (score < best) {
        best = score;
        result = c.name;
      }
    }
    if (best <= kMatchLimit) break;
    result = L"unknown";
    Sleep(kCaptureRetryMs);
  }
  ReleaseDC(nullptr, screen);
  return result;
}

}  // namespace boxwatch
