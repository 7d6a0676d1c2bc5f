// What counts as a full path, joining names to folders and the length limit of resolved paths.
#include <gtest/gtest.h>

#include "platform/full_path.h"
#include "tests/fakes/fake_system.h"

namespace updater {
namespace {

TEST(FullPath, OnlyPathsThatDoNotDependOnTheCurrentFolder) {
  const std::pair<const wchar_t*, bool> cases[] = {
      {L"C:\\", true},
      {L"c:\\Temp", true},
      {L"C:/Temp", true},
      {L"\\\\server\\share", true},
      {L"//server/share", true},
      {L"\\\\?\\C:\\Temp", true},
      {L"C:", false},      // the current folder of drive C
      {L"C:Temp", false},  // relative to it
      {L"\\Temp", false},  // the current drive's root
      {L".", false},
      {L"Temp", false},
      {L"\\\\\\Temp", false},  // three separators name no server
      {L"1:\\Temp", false},
      {L"", false},
  };
  for (const auto& [path, full] : cases) EXPECT_EQ(IsFullPath(path), full) << path;
}

TEST(FullPath, JoinPutsOneSeparatorBetween) {
  EXPECT_EQ(JoinPath(L"C:\\Temp", L"a.msp"), L"C:\\Temp\\a.msp");
  EXPECT_EQ(JoinPath(L"C:\\", L"a.msp"), L"C:\\a.msp");
  EXPECT_EQ(JoinPath(L"C:/Temp/", L"a.msp"), L"C:/Temp/a.msp");
}

TEST(FullPath, ResolvesAgainstTheCurrentFolderWithinTheLimit) {
  testing::FakeSystem system;
  system.SetCurrentDirectory(L"C:\\Work");
  const Outcome<std::wstring> relative = GetFullPath(system, L"a.msp");
  ASSERT_TRUE(relative);
  EXPECT_EQ(*relative, L"C:\\Work\\a.msp");

  // 259 characters fit with the terminator; 260 do not.
  const std::wstring longest = L"C:\\" + std::wstring(256, L'a');
  ASSERT_TRUE(GetFullPath(system, longest));
  EXPECT_EQ(*GetFullPath(system, longest), longest);
  const Outcome<std::wstring> over = GetFullPath(system, longest + L"a");
  ASSERT_FALSE(over);
  EXPECT_EQ(over.error(), kErrorFilenameExcedRange);
}

}  // namespace
}  // namespace updater
