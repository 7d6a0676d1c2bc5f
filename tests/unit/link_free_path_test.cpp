// Paths reached without links: what the binding reports of the object opened at a name decides
// whether it is the one asked for, and a folder's security is read only on such a handle.
#include "platform/link_free_path.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/fakes/fake_system.h"

namespace updater {
namespace {

using testing::FakeSystem;

constexpr wchar_t kFolder[] = L"C:\\Temp\\Logs";
constexpr wchar_t kSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

struct Case {
  const char* name;
  std::function<void(FakeSystem&)> arrange;
  std::wstring path;
  uint32_t reachedError;   // of CheckReachedWithoutLinks; 0 for success
  uint32_t securityError;  // of FolderSecurity; 0 for kSecurity read on the folder's handle
};

TEST(LinkFreePath, OnlyWhatIsReachedAsNamedWithoutALinkAtTheNameOrOnTheWay) {
  const auto folder = [](FakeSystem& s) {
    s.AddDirectory(kFolder);
    s.SetSecurity(kFolder, kSecurity);
  };
  const Case cases[] = {
      {"folder", folder, kFolder, 0, 0},
      {"drive root", [](FakeSystem& s) { s.SetSecurity(L"C:\\", kSecurity); }, L"C:\\", 0, 0},
      {"missing", [](FakeSystem&) {}, kFolder, kErrorFileNotFound, kErrorFileNotFound},
      {"link at the name",
       [](FakeSystem& s) {
         s.AddLink(kFolder);
         s.SetSecurity(kFolder, kSecurity);
       },
       kFolder, kErrorCantResolveFilename, kErrorCantResolveFilename},
      {"link at the name, its target a folder",
       [&](FakeSystem& s) {
         folder(s);
         s.AddLink(kFolder);
       },
       kFolder, kErrorCantResolveFilename, kErrorCantResolveFilename},
      {"link on the way",
       [&](FakeSystem& s) {
         folder(s);
         s.AddLink(L"C:\\Temp");
       },
       kFolder, kErrorCantResolveFilename, kErrorCantResolveFilename},
      {"link on the way, nothing behind it", [](FakeSystem& s) { s.AddLink(L"C:\\Temp"); }, kFolder,
       kErrorCantResolveFilename, kErrorCantResolveFilename},
      {"reached elsewhere",
       [&](FakeSystem& s) {
         folder(s);
         s.AddRedirectedName(kFolder);
       },
       kFolder, kErrorCantResolveFilename, kErrorCantResolveFilename},
      {"opening refused",
       [&](FakeSystem& s) {
         folder(s);
         s.FailOpeningForQuery(kFolder, kErrorAccessDenied);
       },
       kFolder, kErrorAccessDenied, kErrorAccessDenied},
      {"security unreadable",
       [&](FakeSystem& s) {
         folder(s);
         s.FailSecurityRead(kFolder, kErrorAccessDenied);
       },
       kFolder, 0, kErrorAccessDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system;
    c.arrange(system);
    const Status reached = CheckReachedWithoutLinks(system, c.path);
    EXPECT_EQ(reached.ok(), c.reachedError == 0);
    EXPECT_EQ(reached.error(), c.reachedError);
    EXPECT_TRUE(system.securityReads().empty());
    EXPECT_EQ(system.openQueries(), 0);  // the handle goes on every way out

    const Outcome<std::wstring> security = FolderSecurity(system, c.path);
    EXPECT_EQ(security.ok(), c.securityError == 0);
    EXPECT_EQ(security.error(), c.securityError);
    if (security) {
      EXPECT_EQ(*security, kSecurity);
    }
    // Read only on a handle found reached as named, never on a link's.
    EXPECT_EQ(system.securityReads().size(), c.reachedError == 0 ? 1u : 0u);
    EXPECT_EQ(system.openQueries(), 0);
  }
}

}  // namespace
}  // namespace updater
