// The run log: the updater's own account of one run, for the administrator who deployed it
// silently. UTF-8 with a byte-order mark, so that Notepad shows every language; CRLF line ends.
// Every entry starts with the local date and time and reaches the file in one write as soon as it
// is made, without any buffering in the process, so a run that crashes or is killed leaves every
// entry it made up to then. A log that cannot be opened or written is dropped without a word: it
// never stops or changes the update.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace updater {

inline constexpr wchar_t kLogExtension[] = L".log";
// Names tried for the default place, each with a random part of its own.
inline constexpr uint32_t kMaxLogNameAttempts = 4;
// The random bytes in the default name, written as twice as many hexadecimal digits.
inline constexpr size_t kLogNameRandomBytes = 4;

// The text in UTF-8. UTF-16 surrogate pairs become one character; a surrogate without its partner
// and any value beyond U+10FFFF become U+FFFD.
std::string ToUtf8(std::wstring_view text);

// Whether a reader could take c as a line break, or as any control: the C0 controls, DEL and the
// C1 controls (U+0085 among them), U+2028 and U+2029.
bool BreaksLines(wchar_t c);

// text with each such character written as "<U+XXXX>" (four upper-case hexadecimal digits), tabs
// kept where keepTabs; everything else as it is.
std::wstring EscapeLineBreaks(std::wstring_view text, bool keepTabs);

// "yyyy-MM-dd HH:mm:ss.fff", the stamp of each entry.
std::wstring FormatEntryTime(const LocalTime& time);

// "yyyyMMddHHmmss", the stamp in the default name.
std::wstring FormatNameStamp(const LocalTime& time);

// The file name of path without its folder and without its last extension: "C:\Dl\Fix.v2.exe"
// gives "Fix.v2".
std::wstring FileStem(const std::wstring& path);

// The default place: "<folder>\<stem>_<stamp>_<random>.log", random being the hexadecimal digits
// of the bytes.
std::wstring DefaultLogPath(const std::wstring& folder, const std::wstring& stem,
                            const std::wstring& stamp, std::span<const std::byte> random);

class RunLog {
 public:
  explicit RunLog(System& system) : system_(system) {}
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // The log at path as the administrator named it ("/log PATH"); a file standing there is
  // replaced. False, and no log, when it cannot be created.
  bool OpenAt(const std::wstring& path);

  // The log at its default place in folder (see DefaultLogPath), named after the update file's
  // stem, the local time now and random bytes from the system's generator, so that nobody can
  // plant anything at the name beforehand. The name is created as a new regular file, never
  // through a link at it or on the way (CreateNewRegularFile), so nothing standing there is ever
  // opened: a taken name moves on to another random one, up to kMaxLogNameAttempts. Only a full
  // folder path is used (IsFullPath), never one relative to the current folder. False, and no log,
  // when no name could be created.
  bool OpenDefault(const std::wstring& folder, const std::wstring& stem);

  bool IsOpen() const { return file_ != nullptr; }
  // The path of the open log; empty when there is none.
  const std::wstring& path() const { return path_; }

  // Writes one entry on one line: the time, two blanks, the text with every character a reader
  // could take as a line break escaped (EscapeLineBreaks). Does nothing without a log; a write
  // the file does not take whole ends the log.
  void Write(const std::wstring& text);
  // The same entry followed by lines, the updater's own text of several lines (a message, the
  // report): each line feed there (with a carriage return before it) starts a continuation line,
  // indented under the text so that it never reads as an entry; tabs stay, every other such
  // character is escaped.
  void Write(const std::wstring& text, const std::wstring& lines);

 private:
  bool Start(std::unique_ptr<WritableFile> file, std::wstring path);
  bool WriteBytes(const std::string& bytes);

  System& system_;
  std::unique_ptr<WritableFile> file_;
  std::wstring path_;
};

}  // namespace updater
