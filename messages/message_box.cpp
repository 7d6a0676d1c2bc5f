#include "messages/message_box.h"

#include "messages/catalogue.h"
#include "platform/decimal_text.h"

namespace updater {
namespace {

enum class Insert { kNone, kErrorCode, kProductName };

struct BoxStyle {
  Insert insert;
  uint32_t captionId;  // 0: the caption stays "Error"
  uint32_t flags;
};

BoxStyle StyleOf(uint32_t id) {
  switch (id) {
    case kMsgFailure:
      return {Insert::kErrorCode, kCaptionError, kBoxFailure};
    case kMsgSuccess:
    case kMsgRestartNeeded:
      return {Insert::kProductName, kCaptionSuccess, kBoxSuccess};
    case kMsgUpToDate:
      return {Insert::kProductName, kCaptionUnnecessary, kBoxFailure};
    case kMsgWrongVersion:
      return {Insert::kProductName, kCaptionError, kBoxFailure};
    case kMsgNoProduct:
    case kMsgBadCommandLine:
    case kMsgNoPatchList:
    case kMsgBlocked:
      return {Insert::kNone, kCaptionError, kBoxFailure};
    default:
      return {Insert::kNone, 0, kBoxWithoutIcon};
  }
}

}  // namespace

std::wstring ComposeMessage(const std::wstring& format, const std::wstring& insert,
                            size_t maxLength) {
  std::wstring text;
  bool inserted = false;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == L'%' && i + 1 < format.size()) {
      const wchar_t kind = format[i + 1];
      if (kind == L'%') {
        text += L'%';
        ++i;
        continue;
      }
      if ((kind == L's' || kind == L'd') && !inserted) {
        inserted = true;
        // Room for the insert is what the rest of the format leaves of maxLength.
        size_t rest = 0;
        for (size_t j = i + 2; j < format.size(); ++j) {
          if (format[j] == L'%' && j + 1 < format.size() && format[j + 1] == L'%') ++j;
          ++rest;
        }
        const size_t used = text.size() + rest;
        const size_t room = used < maxLength ? maxLength - used : 0;
        text.append(insert, 0, std::min(room, insert.size()));
        ++i;
        continue;
      }
    }
    text += format[i];
  }
  if (text.size() > maxLength) text.resize(maxLength);
  return text;
}

void MessageBoxes::ShowMessage(uint32_t id, const MessageContext& context) {
  if (quiet_ && observer_ == nullptr) return;
  std::wstring format;
  LoadText(system_, id, context.language, format, kCatalogueLookupCapacity);
  std::wstring caption = L"Error";
  const BoxStyle style = StyleOf(id);

  std::wstring insert;
  if (style.insert == Insert::kErrorCode) {
    insert = DecimalText(static_cast<int32_t>(context.errorCode));
  }
  if (style.insert == Insert::kProductName) insert = context.productName;
  // The platform's buffer holds the format's length plus 512 characters with the terminator.
  const std::wstring text = ComposeMessage(format, insert, format.size() + kMessageInsertRoom - 1);
  if (style.captionId != 0) {
    LoadText(system_, style.captionId, context.language, caption, kCatalogueLookupCapacity);
  }

  if (observer_ != nullptr) observer_->MessageComposed(id, caption, text, !quiet_);
  if (!quiet_) system_.ShowMessageBox(text, caption, style.flags);
}

void MessageBoxes::ShowUsage(uint32_t language) {
  if (quiet_ && observer_ == nullptr) return;
  std::wstring text;
  for (uint32_t n = 0; n < kUsageTextCount; ++n) {
    std::wstring part;
    LoadText(system_, kTextUsage + n, language, part, kCatalogueLookupCapacity);
    text += (n == 0 ? L"" : L"\n") + part;
  }
  if (observer_ != nullptr) observer_->MessageComposed(kTextUsage, kUsageCaption, text, !quiet_);
  if (!quiet_) system_.ShowMessageBox(text, kUsageCaption, kBoxSuccess);
}

}  // namespace updater
