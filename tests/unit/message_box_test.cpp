#include <gtest/gtest.h>

#include "messages/catalogue.h"
#include "messages/message_box.h"
#include "tests/fakes/fake_system.h"
#include "tests/fakes/string_tables.h"

namespace updater {
namespace {

using testing::FakeSystem;

class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::LoadStringTable(system, 1033); }
  FakeSystem system;
  MessageBoxes messages{system, false};
};

TEST_F(MessageBoxTest, TableOfIds) {
  struct Case {
    uint32_t id;
    std::wstring text;
    std::wstring caption;
    uint32_t flags;
  };
  const MessageContext context{1033, L"Sample Suite", 1603};
  const Case cases[] = {
      {300,
       L"A problem prevented the Update from being installed. Contact your system administrator. "
       L"\n\n Error Code: 1603",
       L"Installation Error", 0x50010},
      {301, L"The update was successfully installed and Sample Suite has been updated.",
       L"Installation Successful", 0x50040},
      {306, L"Your version of Sample Suite is up-to-date and this update is not necessary",
       L"Installation Unnecessary", 0x50010},
      {307,
       L"The update could not be installed because the expected Quorvex product could not be "
       L"located on your computer.\nMake sure that you are using the correct update for the "
       L"product.",
       L"Installation Error", 0x50010},
      {308,
       L"This update could not be installed because it is not designed for the version of Sample "
       L"Suite that is installed on your computer.",
       L"Installation Error", 0x50010},
      {309, L"The command line that you supplied is incorrect. Please check it for errors.",
       L"Installation Error", 0x50010},
      {310, L"You must supply a patch list with the command line to install this update.",
       L"Installation Error", 0x50010},
      {314,
       L"Installation of this update is blocked.  For more information, please read Information "
       L"for Windows Vista Users in the update readme.",
       L"Installation Error", 0x50010},
      {319,
       L"The update was successfully installed. Restart your computer to complete the update of "
       L"Sample Suite.",
       L"Installation Successful", 0x50040},                 // 301's caption and icon
      {312, L"Installation Successful", L"Error", 0x50000},  // no row: caption "Error", no icon
      {303, L"", L"Error", 0x50000},
  };
  for (const Case& c : cases) {
    messages.ShowMessage(c.id, context);
    ASSERT_FALSE(system.boxes().empty());
    const testing::ShownBox& box = system.boxes().back();
    EXPECT_EQ(box.text, c.text) << c.id;
    EXPECT_EQ(box.caption, c.caption) << c.id;
    EXPECT_EQ(box.type, c.flags) << c.id;
  }
}

TEST_F(MessageBoxTest, ErrorCodeIsPrintedSigned) {
  const std::pair<uint32_t, std::wstring> cases[] = {{0xFFFFFFFF, L"Error Code: -1"},
                                                     {0x80070005, L"Error Code: -2147024891"},
                                                     {0, L"Error Code: 0"},
                                                     {4316, L"Error Code: 4316"}};
  for (const auto& [code, tail] : cases) {
    messages.ShowMessage(300, {1033, L"", code});
    const std::wstring& text = system.boxes().back().text;
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  }
}

TEST_F(MessageBoxTest, QuietShowsNothing) {
  MessageBoxes quiet(system, true);
  for (uint32_t id : {300u, 301u, 306u, 307u, 308u, 319u, 999u}) {
    quiet.ShowMessage(id, {1033, L"Suite", 1603});
  }
  quiet.ShowUsage(1033);
  EXPECT_TRUE(system.boxes().empty());
}

// The usage lists every switch the command line knows, one line each, in every table.
TEST_F(MessageBoxTest, UsageListsEverySwitchOnALineOfItsOwnInEachLanguage) {
  const std::vector<std::wstring> switches = {L"/q",    L"/e",        L"/i",         L"/pi",
                                              L"/log",  L"/exitcode", L"/norestart", L"/plan",
                                              L"/wait", L"/?, /help"};
  for (const uint16_t language : std::initializer_list<uint16_t>{
           1028, 1029, 1031, 1033, 1036, 1038, 1040, 1041, 1042, 1045, 1046, 1049, 2052, 3082}) {
    FakeSystem tables;
    testing::LoadStringTable(tables, language);
    MessageBoxes boxes(tables, false);
    boxes.ShowUsage(language);
    ASSERT_EQ(tables.boxes().size(), 1u);
    const testing::ShownBox& box = tables.boxes().back();
    EXPECT_EQ(box.caption, L"Quorvex Updater");
    EXPECT_EQ(box.type, 0x50040u);
    std::vector<std::wstring> lines;
    for (size_t start = 0, end = 0; end != std::wstring::npos; start = end + 1) {
      end = box.text.find(L'\n', start);
      lines.push_back(box.text.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), switches.size() + 1) << language;
    for (size_t n = 0; n < switches.size(); ++n) {
      const std::wstring& line = lines[n + 1];
      EXPECT_EQ(line.compare(0, switches[n].size(), switches[n]), 0) << language << " " << n;
      EXPECT_NE(line.find(L" \u2013 "), std::wstring::npos) << language << " " << n;
    }
  }
}

TEST_F(MessageBoxTest, EmptyProductNameLeavesTwoBlanks) {
  messages.ShowMessage(301, {1033, L"", 0});
  EXPECT_EQ(system.boxes().back().text,
            L"The update was successfully installed and  has been updated.");
}

TEST_F(MessageBoxTest, LongProductNameIsCutToFitTheBuffer) {
  std::wstring format;
  LoadText(system, 308, 1033, format, 256);
  messages.ShowMessage(308, {1033, std::wstring(1000, L'N'), 0});
  const std::wstring& text = system.boxes().back().text;
  EXPECT_EQ(text.size(), format.size() + 511);
  const size_t head = format.find(L"%s");
  const std::wstring tail = format.substr(head + 2);
  EXPECT_EQ(text.substr(0, head), format.substr(0, head));
  EXPECT_EQ(text.substr(head, 513), std::wstring(513, L'N'));
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(MessageBoxTest, TextsComeFromTheContextsLanguageNotTheThreadLocale) {
  system.AddStringTable(1031, {{306, L"Ihre Version von %s ist aktuell"}, {313, L"Unnötig"}});
  system.SetThreadLocaleId(1041);
  messages.ShowMessage(306, {0x0C07, L"Suite", 0});  // German (Austria): the German table
  EXPECT_EQ(system.boxes().back().text, L"Ihre Version von Suite ist aktuell");
  EXPECT_EQ(system.boxes().back().caption, L"Unnötig");
}

TEST(ComposeMessage, Inserts) {
  EXPECT_EQ(ComposeMessage(L"a %s b", L"X", 100), L"a X b");
  EXPECT_EQ(ComposeMessage(L"code %d", L"-1", 100), L"code -1");
  EXPECT_EQ(ComposeMessage(L"100%% %s", L"X", 100), L"100% X");
  EXPECT_EQ(ComposeMessage(L"%s and %s", L"X", 100), L"X and %s");  // one insert only
  EXPECT_EQ(ComposeMessage(L"%x %", L"X", 100), L"%x %");
  EXPECT_EQ(ComposeMessage(L"ab%scd", L"XYZ", 6), L"abXYcd");  // the insert gives way
  EXPECT_EQ(ComposeMessage(L"abcdef%s", L"XYZ", 4), L"abcd");
}

}  // namespace
}  // namespace updater
