// Message boxes: the one way the updater tells the user an outcome.
#pragma once

#include <cstdint>
#include <string>

#include "platform/system.h"

namespace updater {

inline constexpr size_t kCatalogueLookupCapacity = 256;
inline constexpr size_t kMessageInsertRoom = 512;

inline constexpr uint32_t kBoxFailure = 0x50010;      // MB_OK | MB_ICONERROR | foreground | topmost
inline constexpr uint32_t kBoxSuccess = 0x50040;      // MB_OK | MB_ICONINFORMATION | ...
inline constexpr uint32_t kBoxWithoutIcon = 0x50000;  // MB_OK | MB_SETFOREGROUND | MB_TOPMOST
inline constexpr wchar_t kUsageCaption[] = L"Quorvex Updater";

// Replaces the single "%s" or "%d" of format with insert, the way wsprintfW would, and cuts the
// insert so that the whole text has at most maxLength characters. "%%" gives one percent sign;
// any other percent sequence stands as it is.
std::wstring ComposeMessage(const std::wstring& format, const std::wstring& insert,
                            size_t maxLength);

// Everything a message box is built from besides its id.
struct MessageContext {
  uint32_t language = 0;     // locale identifier; the nearest table carried serves it
  std::wstring productName;  // the insert of 301, 306 and 308
  uint32_t errorCode = 0;    // the insert of 300, printed as a signed number
};

// Told of every catalogue box as it is composed, shown or silenced by "/q", before it is shown.
class MessageObserver {
 public:
  virtual ~MessageObserver() = default;
  virtual void MessageComposed(uint32_t id, const std::wstring& caption, const std::wstring& text,
                               bool shown) = 0;
};

class MessageBoxes {
 public:
  // quiet: no box at all, as under "/q", "/plan" or on a window station nobody sees. An
  // observer, when given, is told of each box, which is then composed while quiet too.
  MessageBoxes(System& system, bool quiet, MessageObserver* observer = nullptr)
      : system_(system), quiet_(quiet), observer_(observer) {}

  // Shows the box of catalogue message id in the context's language: its caption, icon and insert
  // (the error code for 300, the product name for 301, 306, 308 and 319). Nothing while quiet.
  void ShowMessage(uint32_t id, const MessageContext& context);

  // The usage: texts 320 to 322 of language, each on lines of its own, captioned "Quorvex
  // Updater" with the information icon; told to the observer as 320. Nothing while quiet.
  void ShowUsage(uint32_t language);

 private:
  System& system_;
  bool quiet_;
  MessageObserver* observer_;
};

}  // namespace updater
