#include "diagnostics/run_log.h"

#include "platform/decimal_text.h"
#include "platform/full_path.h"
#include "platform/regular_file.h"

namespace updater {
namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kLineEnd[] = "\r\n";
// The width of "yyyy-MM-dd HH:mm:ss.fff" and the two blanks after it.
constexpr size_t kEntryIndent = 25;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Zero-padded to width, without the C library's wide printf (see DecimalText).
std::wstring Digits(unsigned value, int width) {
  std::wstring text = DecimalText(value);
  if (text.size() < static_cast<size_t>(width)) text.insert(0, width - text.size(), L'0');
  return text;
}

// The one place the log file is created.
// A fresh name is created as a new regular file, so nothing standing there (a link included) is
// opened; a given name is replaced only when it is a regular file reached without any link.
Outcome<std::unique_ptr<WritableFile>> CreateLogFile(System& system, const std::wstring& path,
                                                     bool fresh) {
  if (fresh) return CreateNewRegularFile(system, path);
  return CreateRegularFileForWriting(system, path);
}

}  // namespace

std::string ToUtf8(std::wstring_view text) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      const char32_t low = static_cast<char32_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
    AppendUtf8(out, c);
  }
  return out;
}

std::wstring FormatEntryTime(const LocalTime& t) {
  return Digits(t.year, 4) + L'-' + Digits(t.month, 2) + L'-' + Digits(t.day, 2) + L' ' +
         Digits(t.hour, 2) + L':' + Digits(t.minute, 2) + L':' + Digits(t.second, 2) + L'.' +
         Digits(t.milliseconds, 3);
}

std::wstring FormatNameStamp(const LocalTime& t) {
  return Digits(t.year, 4) + Digits(t.month, 2) + Digits(t.day, 2) + Digits(t.hour, 2) +
         Digits(t.minute, 2) + Digits(t.second, 2);
}

std::wstring FileStem(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/:");
  std::wstring name = separator == std::wstring::npos ? path : path.substr(separator + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot != 0) name.erase(dot);
  return name;
}

std::wstring DefaultLogPath(const std::wstring& folder, const std::wstring& stem,
                            const std::wstring& stamp, std::span<const std::byte> random) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring path = folder;
  if (path.empty() || path.back() != L'\\') path += L'\\';
  path += stem + L'_' + stamp + L'_';
  for (const std::byte b : random) {
    path += kDigits[std::to_integer<unsigned>(b) >> 4];
    path += kDigits[std::to_integer<unsigned>(b) & 0xF];
  }
  return path + kLogExtension;
}

bool RunLog::OpenAt(const std::wstring& path) {
  if (path.empty()) return false;
  Outcome<std::unique_ptr<WritableFile>> file = CreateLogFile(system_, path, false);
  return file && Start(std::move(*file), path);
}

bool RunLog::OpenDefault(const std::wstring& folder, const std::wstring& stem) {
  if (!IsFullPath(folder)) return false;
  const std::wstring stamp = FormatNameStamp(system_.CurrentLocalTime());
  for (uint32_t attempt = 1; attempt <= kMaxLogNameAttempts; ++attempt) {
    std::byte random[kLogNameRandomBytes];
    if (!system_.RandomBytes(random)) return false;
    std::wstring path = DefaultLogPath(folder, stem, stamp, random);
    Outcome<std::unique_ptr<WritableFile>> file = CreateLogFile(system_, path, true);
    if (file) return Start(std::move(*file), std::move(path));
    if (file.error() != kErrorFileExists && file.error() != kErrorAlreadyExists &&
        file.error() != kErrorCantResolveFilename) {
      return false;
    }
  }
  return false;
}

bool RunLog::Start(std::unique_ptr<WritableFile> file, std::wstring path) {
  if (!file) return false;
  file_ = std::move(file);
  path_ = std::move(path);
  return WriteBytes(kByteOrderMark);
}

bool BreaksLines(wchar_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

std::wstring EscapeLineBreaks(std::wstring_view text, bool keepTabs) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring escaped;
  escaped.reserve(text.size());
  for (const wchar_t c : text) {
    if (!BreaksLines(c) || (keepTabs && c == L'\t')) {
      escaped += c;
      continue;
    }
    const unsigned value = static_cast<unsigned>(c);
    escaped += L"<U+";
    for (int shift = 12; shift >= 0; shift -= 4) escaped += kDigits[(value >> shift) & 0xF];
    escaped += L'>';
  }
  return escaped;
}

void RunLog::Write(const std::wstring& text) { Write(text, std::wstring()); }

void RunLog::Write(const std::wstring& text, const std::wstring& lines) {
  if (!file_) return;
  std::wstring entry =
      FormatEntryTime(system_.CurrentLocalTime()) + L"  " + EscapeLineBreaks(text, false);
  size_t start = 0;
  while (start < lines.size()) {
    size_t end = lines.find(L'\n', start);
    if (end == std::wstring::npos) end = lines.size();
    size_t cut = end;
    if (cut > start && lines[cut - 1] == L'\r') --cut;
    entry += L"\r\n" + std::wstring(kEntryIndent, L' ') +
             EscapeLineBreaks(std::wstring_view(lines).substr(start, cut - start), true);
    start = end + 1;
  }
  WriteBytes(ToUtf8(entry) + kLineEnd);
}

bool RunLog::WriteBytes(const std::string& bytes) {
  if (!file_) return false;
  if (file_->Write(reinterpret_cast<const std::byte*>(bytes.data()), bytes.size())) return true;
  // A log that lost part of an entry would read as if the run did something else: end it here.
  file_.reset();
  path_.clear();
  return false;
}

}  // namespace updater
