// Files written at names others can reach: only ever a regular file of one name, reached without
// a link, and nothing standing at the name changed unless it is such a file.
#include "platform/regular_file.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/fakes/fake_system.h"

namespace updater {
namespace {

using testing::FakeSystem;

constexpr wchar_t kPath[] = L"C:\\Temp\\run.log";

struct Case {
  const char* name;
  std::function<void(FakeSystem&)> arrange;
  std::wstring path;
  uint32_t error;         // of CreateRegularFileForWriting; 0 for a file handed back
  uint32_t newOnlyError;  // of CreateNewRegularFile
};

TEST(RegularFile, OnlyARegularFileOfOneNameReachedWithoutLinks) {
  const Case cases[] = {
      {"fresh name", [](FakeSystem&) {}, kPath, 0, 0},
      {"regular file standing", [](FakeSystem& s) { s.AddFile(kPath, "planted"); }, kPath, 0,
       kErrorFileExists},
      {"link at the name", [](FakeSystem& s) { s.AddLink(kPath); }, kPath,
       kErrorCantResolveFilename, kErrorFileExists},
      {"dangling link at the name", [](FakeSystem& s) { s.AddDanglingLink(kPath); }, kPath,
       kErrorCantResolveFilename, kErrorFileExists},
      {"second name of another file",
       [](FakeSystem& s) {
         s.AddFile(kPath, "planted");
         s.AddSecondName(kPath);
       },
       kPath, kErrorCantResolveFilename, kErrorFileExists},
      {"reached elsewhere",
       [](FakeSystem& s) {
         s.AddFile(kPath, "planted");
         s.AddRedirectedName(kPath);
       },
       kPath, kErrorCantResolveFilename, kErrorFileExists},
      {"folder at the name", [](FakeSystem& s) { s.AddDirectory(kPath); }, kPath, kErrorBadFileType,
       kErrorFileExists},
      {"device at the name", [](FakeSystem& s) { s.AddDevice(kPath); }, kPath, kErrorBadFileType,
       kErrorFileExists},
      {"link on the way", [](FakeSystem& s) { s.AddLink(L"C:\\Temp"); }, kPath,
       kErrorCantResolveFilename, kErrorCantResolveFilename},
      {"missing folder", [](FakeSystem&) {}, L"C:\\Missing\\run.log", kErrorFileNotFound,
       kErrorFileNotFound},
      {"no folder in the path", [](FakeSystem&) {}, L"run.log", kErrorBadPathname,
       kErrorBadPathname},
      {"denied file",
       [](FakeSystem& s) {
         s.AddFile(kPath, "planted");
         s.DenyAccess(kPath);
       },
       kPath, kErrorAccessDenied, kErrorFileExists},
      {"read-only folder", [](FakeSystem& s) { s.MakeReadOnly(L"C:\\Temp"); }, kPath,
       kErrorAccessDenied, kErrorAccessDenied},
      {"at a drive's root", [](FakeSystem&) {}, L"C:\\run.log", 0, 0},
  };
  for (const Case& c : cases) {
    for (const bool newOnly : {false, true}) {
      FakeSystem system;
      c.arrange(system);
      const bool planted = system.Exists(c.path) && !system.IsDirectory(c.path);
      Outcome<std::unique_ptr<WritableFile>> file =
          newOnly ? CreateNewRegularFile(system, c.path)
                  : CreateRegularFileForWriting(system, c.path);
      const uint32_t expected = newOnly ? c.newOnlyError : c.error;
      SCOPED_TRACE(std::string(c.name) + (newOnly ? " (new only)" : ""));
      EXPECT_EQ(file.ok(), expected == 0);
      EXPECT_EQ(file.error(), expected);
      if (file) {
        // Handed back empty and writable, whatever stood there before.
        const std::byte text[] = {std::byte{'x'}};
        ASSERT_TRUE((*file)->Write(text, 1));
        EXPECT_EQ(system.ContentOf(c.path), "x");
      } else if (planted) {
        EXPECT_EQ(system.ContentOf(c.path), "planted");  // refused, and left as it was
      }
      EXPECT_EQ(system.openFiles(), file ? 1 : 0);  // nothing refused is left open
    }
  }
}

TEST(RegularFile, AFileStandingIsOpenedAsItIsNeverCreatedOver) {
  FakeSystem system;
  system.AddFile(kPath, "old");
  ASSERT_TRUE(CreateRegularFileForWriting(system, kPath));
  // Made anew first, which fails; then opened where it stands, never replaced by name.
  ASSERT_EQ(system.creations().size(), 2u);
  EXPECT_TRUE(system.creations()[0].second);
  EXPECT_FALSE(system.creations()[1].second);
  EXPECT_EQ(system.ContentOf(kPath), "");
}

}  // namespace
}  // namespace updater
