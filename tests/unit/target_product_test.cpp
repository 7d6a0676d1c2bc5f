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

}  // namespace
}  // namespace updater
