#include "apply/log_name.h"

#include <array>

#include "platform/decimal_text.h"
#include "platform/path_limits.h"

namespace updater {
namespace {

constexpr wchar_t kLogSuffix[] = L" SP1.log";

bool IsFileNameCharacter(wchar_t c) {
  if (c < 0x20) return false;
  switch (c) {
    case L'\\':
    case L'/':
    case L':':
    case L'*':
    case L'?':
    case L'"':
    case L'<':
    case L'>':
    case L'|':
      return false;
    default:
      return true;
  }
}

}  // namespace

bool IsDeviceName(const std::wstring& fileName) {
  std::wstring stem = fileName.substr(0, fileName.find(L'.'));
  while (!stem.empty() && (stem.back() == L' ' || stem.back() == L'.')) stem.pop_back();
  for (wchar_t& c : stem) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  static constexpr std::array<const wchar_t*, 6> kNamed = {L"CON", L"PRN",    L"AUX",
                                                           L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* name : kNamed) {
    if (stem == name) return true;
  }
  if (stem.size() != 4 || (stem.compare(0, 3, L"COM") != 0 && stem.compare(0, 3, L"LPT") != 0)) {
    return false;
  }
  const wchar_t digit = stem[3];
  // Superscript one, two and three count as digits here.
  return (digit >= L'0' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
}

std::wstring BuildLogPath(const std::wstring& logFolder, const std::wstring& productName) {
  const size_t fixedLength = logFolder.size() + 1 + std::char_traits<wchar_t>::length(kLogSuffix);
  if (fixedLength > kMaxPathCapacity - 1) return {};
  const size_t room = kMaxPathCapacity - 1 - fixedLength;
  std::wstring name = productName.substr(0, room);
  for (wchar_t& c : name) {
    if (!IsFileNameCharacter(c)) c = L'_';
  }
  // A stem such as "NUL" or "COM1 " would send the log to a device: one "_" before it makes it a
  // file name, the name shortened by one where the path would not fit otherwise.
  if (IsDeviceName(name + kLogSuffix)) {
    if (name.size() == room) name.pop_back();
    name = L"_" + name;
  }
  return logFolder + L'\\' + name + kLogSuffix;
}

std::wstring LogPathChoice(const std::wstring& logFolder, const std::wstring& productName, int n) {
  return BuildLogPath(logFolder,
                      n == 1 ? productName : productName + L" (" + DecimalText(n) + L")");
}

}  // namespace updater
