#include <gtest/gtest.h>

#include "diagnostics/run_log.h"
#include "tests/fakes/fake_system.h"

namespace updater {
namespace {

using testing::FakeSystem;

constexpr char kBom[] = "\xEF\xBB\xBF";

struct Utf8Case {
  const char* name;
  std::wstring text;
  std::string utf8;
};

class Utf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8, EncodesEveryLanguage) { EXPECT_EQ(ToUtf8(GetParam().text), GetParam().utf8); }

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8,
    ::testing::Values(
        Utf8Case{"ascii", L"Suite 2.0", "Suite 2.0"}, Utf8Case{"empty", L"", ""},
        Utf8Case{"two_bytes", L"\u00DCbersicht",
                 "\xC3\x9C"
                 "bersicht"},
        Utf8Case{"three_bytes", L"\u30B5\u30F3", "\xE3\x82\xB5\xE3\x83\xB3"},
        Utf8Case{"surrogate_pair", std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)},
                 "\xF0\x9F\x98\x80"},
        Utf8Case{"lone_high_surrogate", std::wstring{wchar_t(0xD83D), L'x'}, "\xEF\xBF\xBDx"},
        Utf8Case{"lone_low_surrogate", std::wstring{wchar_t(0xDE00)}, "\xEF\xBF\xBD"},
        Utf8Case{"high_surrogate_last", std::wstring{L'a', wchar_t(0xD83D)}, "a\xEF\xBF\xBD"}),
    [](const ::testing::TestParamInfo<Utf8Case>& param) { return std::string(param.param.name); });

TEST(LogNames, StampsAndStems) {
  const LocalTime time{2027, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(FormatEntryTime(time), L"2027-01-02 03:04:05.006");
  EXPECT_EQ(FormatNameStamp(time), L"20270102030405");

  const std::pair<std::wstring, std::wstring> stems[] = {{L"C:\\Downloads\\update.exe", L"update"},
                                                         {L"C:\\Dl\\Fix.v2.exe", L"Fix.v2"},
                                                         {L"D:/mixed/Up date.EXE", L"Up date"},
                                                         {L"noextension", L"noextension"},
                                                         {L"C:\\dir.d\\plain", L"plain"},
                                                         {L"C:\\.hidden", L".hidden"},
                                                         {L"C:update.exe", L"update"}};
  for (const auto& [path, stem] : stems) EXPECT_EQ(FileStem(path), stem) << path.c_str();

  const std::byte random[] = {std::byte{0x0f}, std::byte{0xa0}, std::byte{0x5c}, std::byte{0xff}};
  EXPECT_EQ(DefaultLogPath(L"C:\\Temp", L"update", L"20270102030405", random),
            L"C:\\Temp\\update_20270102030405_0fa05cff.log");
  EXPECT_EQ(DefaultLogPath(L"C:\\", L"update", L"20270102030405", random),
            L"C:\\update_20270102030405_0fa05cff.log");
}

class RunLogFile : public ::testing::Test {
 protected:
  void SetUp() override { system.SetLocalTime(LocalTime{2026, 12, 10, 4, 5, 6, 789}); }
  FakeSystem system;
};

TEST_F(RunLogFile, DefaultPlaceHoldsTimedEntriesInUtf8WithMark) {
  RunLog log(system);
  system.QueueRandom({std::byte{0x12}, std::byte{0x34}, std::byte{0xab}, std::byte{0xcd}});
  ASSERT_TRUE(log.OpenDefault(L"C:\\Temp", L"update"));
  EXPECT_EQ(log.path(), L"C:\\Temp\\update_20261210040506_1234abcd.log");
  log.Write(L"Product \u00DCbersicht");
  system.AdvanceClock(1250);
  log.Write(L"Decision: patch");
  EXPECT_EQ(system.ContentOf(log.path()), std::string(kBom) +
                                              "2026-12-10 04:05:06.789  Product \xC3\x9C"
                                              "bersicht\r\n"
                                              "2026-12-10 04:05:08.039  Decision: patch\r\n");
  // Created anew, never by replacing what stood there.
  ASSERT_FALSE(system.creations().empty());
  EXPECT_TRUE(system.creations().back().second);
}

TEST_F(RunLogFile, EveryEntryIsInTheFileAsSoonAsItIsWritten) {
  RunLog log(system);
  ASSERT_TRUE(log.OpenDefault(L"C:\\Temp", L"update"));
  EXPECT_EQ(system.ContentOf(log.path()), kBom);
  log.Write(L"The installer call for product {A} starts");
  // Still open, nothing closed or flushed by a destructor: a run killed now leaves this entry.
  EXPECT_EQ(system.openFiles(), 1);
  EXPECT_NE(system.ContentOf(log.path()).find("The installer call for product {A} starts\r\n"),
            std::string::npos);
}

TEST_F(RunLogFile, TheUpdatersOwnLinesStartIndentedContinuationLines) {
  RunLog log(system);
  ASSERT_TRUE(log.OpenAt(L"C:\\Temp\\run.log"));
  log.Write(L"Box 300:", L"An error occurred.\r\nCode 1603\n\tTab kept");
  EXPECT_EQ(system.ContentOf(L"C:\\Temp\\run.log"),
            std::string(kBom) +
                "2026-12-10 04:05:06.789  Box 300:\r\n"
                "                         An error occurred.\r\n"
                "                         Code 1603\r\n"
                "                         \tTab kept\r\n");
}

// A name or path from outside (a product name, TMP) holding anything a reader could take as a
// line break never starts a line of its own: every C0 and C1 control, U+2028 and U+2029 is
// written escaped, in the entry and in the continuation lines alike (where only the updater's
// own line feeds break lines, and tabs stay).
TEST_F(RunLogFile, EveryCharacterThatCouldBreakALineIsWrittenEscaped) {
  struct Case {
    std::wstring text;
    std::string entry;  // as written in an entry of its own
    std::string lines;  // as written in a continuation line
  };
  const Case cases[] = {
      {L"a\nb", "a<U+000A>b", "a\r\n                         b"},
      {L"a\r\nb", "a<U+000D><U+000A>b", "a\r\n                         b"},
      {L"a\rb", "a<U+000D>b", "a<U+000D>b"},
      {L"a\vb\fc", "a<U+000B>b<U+000C>c", "a<U+000B>b<U+000C>c"},
      {L"a\tb", "a<U+0009>b", "a\tb"},
      {std::wstring(L"a") + L'\0' + L"b", "a<U+0000>b", "a<U+0000>b"},
      {L"a\x1b[2Jb", "a<U+001B>[2Jb", "a<U+001B>[2Jb"},
      {L"a\x7f\x80\x85\x9f"
       L"b",
       "a<U+007F><U+0080><U+0085><U+009F>b", "a<U+007F><U+0080><U+0085><U+009F>b"},
      {L"a\u2028b\u2029c", "a<U+2028>b<U+2029>c", "a<U+2028>b<U+2029>c"},
      // Characters close to them pass as they are.
      {L"\u00A0\u2027\u202A\u00DC", "\xC2\xA0\xE2\x80\xA7\xE2\x80\xAA\xC3\x9C",
       "\xC2\xA0\xE2\x80\xA7\xE2\x80\xAA\xC3\x9C"},
  };
  for (const Case& c : cases) {
    const std::wstring path = L"C:\\Temp\\escaped" + std::to_wstring(&c - cases) + L".log";
    RunLog log(system);
    ASSERT_TRUE(log.OpenAt(path));
    log.Write(L"Product \"" + c.text + L"\"");
    log.Write(L"Message:", c.text);
    EXPECT_EQ(system.ContentOf(path),
              std::string(kBom) + "2026-12-10 04:05:06.789  Product \"" + c.entry + "\"\r\n" +
                  "2026-12-10 04:05:06.789  Message:\r\n" + std::string(25, ' ') + c.lines + "\r\n")
        << c.entry;
  }
}

TEST_F(RunLogFile, ASecondRunInTheSameSecondGetsItsOwnName) {
  RunLog first(system), second(system), third(system);
  // The second run draws the first one's bytes again: another draw gives it a name of its own.
  system.QueueRandom({std::byte{1}, std::byte{1}, std::byte{1}, std::byte{1}});
  ASSERT_TRUE(first.OpenDefault(L"C:\\Temp", L"update"));
  system.QueueRandom({std::byte{1}, std::byte{1}, std::byte{1}, std::byte{1}, std::byte{2},
                      std::byte{2}, std::byte{2}, std::byte{2}});
  ASSERT_TRUE(second.OpenDefault(L"C:\\Temp", L"update"));
  system.QueueRandom({std::byte{3}, std::byte{3}, std::byte{3}, std::byte{3}});
  ASSERT_TRUE(third.OpenDefault(L"C:\\Temp", L"update"));
  EXPECT_EQ(first.path(), L"C:\\Temp\\update_20261210040506_01010101.log");
  EXPECT_EQ(second.path(), L"C:\\Temp\\update_20261210040506_02020202.log");
  EXPECT_EQ(third.path(), L"C:\\Temp\\update_20261210040506_03030303.log");
  first.Write(L"first");
  EXPECT_EQ(system.ContentOf(second.path()), kBom);
}

TEST_F(RunLogFile, NothingStandingAtTheDefaultNameIsOpened) {
  // A planted file, a dangling link and a link at the names the first three draws give.
  system.AddFile(L"C:\\Temp\\update_20261210040506_00000000.log", "planted");
  system.AddDanglingLink(L"C:\\Temp\\update_20261210040506_01010101.log");
  system.AddLink(L"C:\\Temp\\update_20261210040506_02020202.log");
  system.QueueRandom({std::byte{0}, std::byte{0}, std::byte{0}, std::byte{0}, std::byte{1},
                      std::byte{1}, std::byte{1}, std::byte{1}, std::byte{2}, std::byte{2},
                      std::byte{2}, std::byte{2}, std::byte{3}, std::byte{3}, std::byte{3},
                      std::byte{3}});
  RunLog log(system);
  ASSERT_TRUE(log.OpenDefault(L"C:\\Temp", L"update"));
  EXPECT_EQ(log.path(), L"C:\\Temp\\update_20261210040506_03030303.log");
  EXPECT_EQ(system.ContentOf(L"C:\\Temp\\update_20261210040506_00000000.log"), "planted");
  EXPECT_FALSE(system.Exists(L"C:\\Temp\\update_20261210040506_01010101.log"));
}

TEST_F(RunLogFile, TheNamesEndAfterTheirBound) {
  RunLog log(system);
  // Every draw gives zeros, whose name is taken.
  const std::byte zeros[kLogNameRandomBytes] = {};
  system.AddFile(DefaultLogPath(L"C:\\Temp", L"update", L"20261210040506", zeros));
  EXPECT_FALSE(log.OpenDefault(L"C:\\Temp", L"update"));
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(system.creations().size(), kMaxLogNameAttempts);
  log.Write(L"goes nowhere");  // and does not fail
}

TEST_F(RunLogFile, OnlyAnAbsoluteFolderServesTheDefaultPlace) {
  for (const wchar_t* folder : {L"c:", L"", L".", L"Temp", L"\\Temp", L"C:Temp"}) {
    RunLog log(system);
    EXPECT_FALSE(log.OpenDefault(folder, L"update")) << folder;
  }
  EXPECT_TRUE(system.creations().empty());
  system.AddDirectory(L"\\\\server\\share");
  RunLog network(system);
  EXPECT_TRUE(network.OpenDefault(L"\\\\server\\share", L"update"));
}

TEST_F(RunLogFile, AFolderThatRefusesTheLogGivesNoLogAndNoFurtherTries) {
  system.MakeReadOnly(L"C:\\Temp");
  RunLog log(system);
  EXPECT_FALSE(log.OpenDefault(L"C:\\Temp", L"update"));
  EXPECT_EQ(system.creations().size(), 1u);

  RunLog missing(system);
  EXPECT_FALSE(missing.OpenAt(L"D:\\NoSuchFolder\\run.log"));
  EXPECT_FALSE(missing.IsOpen());
  missing.Write(L"goes nowhere");
  EXPECT_FALSE(system.Exists(L"D:\\NoSuchFolder\\run.log"));
}

TEST_F(RunLogFile, ANamedLogReplacesTheFileStandingThere) {
  system.AddFile(L"C:\\Temp\\run.log", "an older run's log");
  RunLog log(system);
  ASSERT_TRUE(log.OpenAt(L"C:\\Temp\\run.log"));
  log.Write(L"new");
  EXPECT_EQ(system.ContentOf(L"C:\\Temp\\run.log"),
            std::string(kBom) + "2026-12-10 04:05:06.789  new\r\n");
}

TEST_F(RunLogFile, AWriteTheDiskRefusesEndsTheLog) {
  RunLog log(system);
  ASSERT_TRUE(log.OpenAt(L"C:\\Temp\\run.log"));
  system.SetFreeSpace(40);
  log.Write(L"an entry that fits");  // 45 bytes after the 3 of the mark: cut after 40
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(system.openFiles(), 0);
  system.SetFreeSpace(1000);
  log.Write(L"an entry after the cut entry");
  EXPECT_EQ(system.ContentOf(L"C:\\Temp\\run.log").size(), 43u);
}

}  // namespace
}  // namespace updater
