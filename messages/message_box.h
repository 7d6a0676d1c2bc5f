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

// Replaces the single "%s" or "%d" of format with insert, the way wsprintfW would, and cuts the
// insert so that the whole text has at most maxLength characters. "%%" gives one percent sign;
// any other percent sequence stands as it is.
std::wstring ComposeMessage(const std::wstring& format, const std::wstring& insert,
                            size_t maxLength);

class MessageBoxes {
 public:
  // quiet is the process's quiet flag, read at every call.
  MessageBoxes(System& system, const bool& quiet) : system_(system), quiet_(quiet) {}

  // Shows the box of catalogue message id in the thread locale's language: its caption, icon and
  // insert (the thread's last error for 300, the message product name for 301, 306 and 308). Does
  // nothing at all while the quiet flag is set, leaving the last error untouched.
  void ShowMessage(uint32_t id);

  const std::wstring& messageProductName() const { return messageProductName_; }
  void SetMessageProductName(const std::wstring& name) { messageProductName_ = name; }

 private:
  System& system_;
  const bool& quiet_;
  std::wstring messageProductName_;
};

}  // namespace updater
