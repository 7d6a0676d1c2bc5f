#include <gtest/gtest.h>

#include "inspection/target_product.h"
#include "tests/fakes/fake_installer.h"

namespace updater {
namespace {

using testing::FakeInstaller;

TEST(TargetProduct, InstalledStates) {
  FakeInstaller installer;
  const std::pair<int32_t, bool> cases[] = {{5, true},  {1, true},  {2, false}, {-1, false},
                                            {3, false}, {4, false}, {0, false}, {-2, false}};
  for (auto [state, installed] : cases) {
    installer.AddProduct(L"{P}", L"Suite", L"1033", L"1.0", state);
    EXPECT_EQ(IsProductInstalled(installer, L"{P}"), installed) << state;
  }
  EXPECT_FALSE(IsProductInstalled(installer, L"{unknown}"));
}

TEST(TargetProduct, QueriesNameLanguageAndVersion) {
  FakeInstaller installer;
  installer.AddProduct(L"{P}", L"Sample Suite", L"1031", L"2.0.10.0");
  std::wstring name, language;
  QueryProductNameAndLanguage(installer, L"{P}", name, language);
  EXPECT_EQ(name, L"Sample Suite");
  EXPECT_EQ(language, L"1031");
  EXPECT_EQ(QueryInstalledVersion(installer, L"{P}"), L"2.0.10.0");
}

TEST(TargetProduct, UndeliveredValuesAreEmptyAndTheLanguageIsStillAsked) {
  FakeInstaller installer;
  installer.AddProduct(L"{P}", L"Sample Suite", L"1041", L"1.0");
  installer.product(L"{P}").info.erase(L"ProductName");
  installer.product(L"{P}").info.erase(L"VersionString");
  std::wstring name = L"stale", language = L"stale";
  QueryProductNameAndLanguage(installer, L"{P}", name, language);
  EXPECT_EQ(name, L"");
  EXPECT_EQ(language, L"1041");
  EXPECT_EQ(QueryInstalledVersion(installer, L"{P}"), L"");

  // A value of 1024 characters or more does not fit the buffer and is not delivered either.
  installer.product(L"{P}").info[L"ProductName"] = std::wstring(1024, L'n');
  installer.product(L"{P}").info.erase(L"Language");
  QueryProductNameAndLanguage(installer, L"{P}", name, language);
  EXPECT_EQ(name, L"");
  EXPECT_EQ(language, L"");
  installer.product(L"{P}").info[L"ProductName"] = std::wstring(1023, L'n');
  QueryProductNameAndLanguage(installer, L"{P}", name, language);
  EXPECT_EQ(name, std::wstring(1023, L'n'));
}

TEST(TargetProduct, DetectGivesOneEntryPerCodeInTheirOrder) {
  FakeInstaller installer;
  installer.AddProduct(L"{C}", L"Gamma", L"1041", L"3.0");
  installer.AddProduct(L"{A}", L"Alpha", L"1031", L"1.0", /*state=*/1);  // advertised
  installer.AddProduct(L"{B}", L"Beta", L"1033", L"2.0", /*state=*/2);   // another user's
  const std::vector<DetectedTarget> detected =
      DetectTargets(installer, {L"{C}", L"{B}", L"{X}", L"{A}"});
  ASSERT_EQ(detected.size(), 4u);
  const wchar_t* codes[] = {L"{C}", L"{B}", L"{X}", L"{A}"};
  const bool installed[] = {true, false, false, true};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(detected[i].product.productCode, codes[i]);
    EXPECT_EQ(detected[i].installed, installed[i]) << i;
  }
  EXPECT_EQ(detected[0].product.productName, L"Gamma");
  EXPECT_EQ(detected[0].product.language, L"1041");
  EXPECT_EQ(detected[0].product.installedVersion, L"3.0");
  EXPECT_TRUE(detected[3].product.InstalledVersion().Equals(FourPartVersion::FromText(L"1.0")));
  // A code not installed here keeps nothing but its code, whatever the service knows of it.
  EXPECT_EQ(detected[1].product.productName, L"");
  EXPECT_EQ(detected[1].product.installedVersion, L"");
  // Products that are not installed are asked for nothing more than their state.
  for (const std::wstring& call : installer.calls()) {
    EXPECT_EQ(call.find(L"GetProductInfo"), call.rfind(L"GetProductInfo"));
  }
  EXPECT_EQ(installer.calls().size(), 4u + 2u * 3u);
}

// Elevated, a code counts only through a registration that needed administrators, read in its
// own context; one unmanaged per-user registration of any user refuses the code.
TEST(ElevatedTargets, OnlyRegistrationsThatNeededAdministratorsCount) {
  constexpr uint32_t kMachine = kInstallContextMachine;
  constexpr uint32_t kManaged = kInstallContextUserManaged;
  constexpr uint32_t kUnmanaged = kInstallContextUserUnmanaged;
  struct Case {
    const char* what;
    std::vector<std::pair<uint32_t, std::wstring>> registrations;  // context, SID
    bool installed;
    uint32_t readContext;  // the context its properties come from
    bool refused;
  };
  const Case cases[] = {
      {"machine-wide", {{kMachine, L""}}, true, kMachine, false},
      {"managed per-user", {{kManaged, L"S-1-5-21-7"}}, true, kManaged, false},
      {"machine before managed",
       {{kManaged, L"S-1-5-21-7"}, {kMachine, L""}},
       true,
       kMachine,
       false},
      {"unmanaged alone", {{kUnmanaged, L"S-1-5-21-7"}}, false, 0, true},
      {"unmanaged beside machine", {{kMachine, L""}, {kUnmanaged, L"S-1-5-21-9"}}, false, 0, true},
      {"unmanaged first", {{kUnmanaged, L"S-1-5-21-9"}, {kMachine, L""}}, false, 0, true},
      {"none", {}, false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeInstaller installer;
    // Another product's registrations around it, and one of the code in lower case.
    installer.AddRegistration(L"{OTHER}", kUnmanaged, L"S-1-5-21-7", L"Other", L"1033", L"9.0");
    for (const auto& [context, sid] : c.registrations) {
      installer.AddRegistration(L"{P}", context, sid, L"Suite " + std::to_wstring(context),
                                L"103" + std::to_wstring(context),
                                std::to_wstring(context) + L".0");
    }
    installer.AddProduct(L"{Q}", L"Beside", L"1031", L"1.0");
    const ElevatedDetection found = DetectElevatedTargets(installer, {L"{p}", L"{Q}"});
    EXPECT_EQ(found.error, 0u);
    ASSERT_EQ(found.targets.size(), 2u);
    EXPECT_TRUE(found.targets[1].installed);
    EXPECT_EQ(found.targets[1].product.productCode, L"{Q}");
    EXPECT_EQ(found.targets[1].product.productName, L"Beside");
    EXPECT_EQ(found.targets[0].installed, c.installed);
    EXPECT_EQ(found.targets[0].product.productCode, L"{p}");
    if (c.installed) {
      const TargetProductRecord& record = found.targets[0].product;
      EXPECT_EQ(record.productCode, L"{p}");
      EXPECT_EQ(record.context, c.readContext);
      EXPECT_EQ(record.productName, L"Suite " + std::to_wstring(c.readContext));
      EXPECT_EQ(record.language, L"103" + std::to_wstring(c.readContext));
      EXPECT_EQ(record.installedVersion, std::to_wstring(c.readContext) + L".0");
    }
    ASSERT_EQ(found.refused.size(), c.refused ? 1u : 0u);
    if (c.refused) {
      EXPECT_EQ(found.refused[0].context, kUnmanaged);
      EXPECT_EQ(found.refused[0].userSid.substr(0, 9), L"S-1-5-21-");
    }
    // Never the context-free queries, which take whatever registration comes first.
    for (const std::wstring& call : installer.calls()) {
      EXPECT_EQ(call.rfind(L"QueryProductState", 0), std::wstring::npos) << call;
      EXPECT_EQ(call.rfind(L"GetProductInfo ", 0), std::wstring::npos) << call;
    }
  }
}

TEST(ElevatedTargets, EveryUserIsListedAndAFailedListingFindsNothing) {
  FakeInstaller installer;
  installer.AddProduct(L"{P}", L"Suite", L"1033", L"1.0");
  installer.AddProduct(L"{Q}", L"Beside", L"1033", L"1.0");
  const ElevatedDetection found = DetectElevatedTargets(installer, {L"{P}"});
  ASSERT_EQ(found.targets.size(), 1u);
  EXPECT_TRUE(found.targets[0].installed);
  EXPECT_EQ(installer.calls().front(), L"EnumProductsEx S-1-1-0 7 0");
  installer.enumFailure = std::make_pair(1u, 1610u);
  const ElevatedDetection failed = DetectElevatedTargets(installer, {L"{P}"});
  ASSERT_EQ(failed.targets.size(), 1u);
  EXPECT_FALSE(failed.targets[0].installed);
  EXPECT_EQ(failed.targets[0].product.productCode, L"{P}");
  EXPECT_EQ(failed.error, 1610u);
}

}  // namespace
}  // namespace updater
