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
  EXPECT_TRUE(QueryProductNameAndLanguage(installer, L"{P}", name, language));
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
  EXPECT_TRUE(QueryProductNameAndLanguage(installer, L"{P}", name, language));
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

TEST(TargetProduct, RecordCopiesAreIndependent) {
  TargetProductRecord record{L"{A};{B};", L"2.0", L"Suite", L"1033", L"", L"1.0,1.1", L"1.0"};
  TargetProductRecord copy = record;
  copy.productCode = L"{A}";
  copy.productName = L"Other";
  copy.targetVersions += L",1.2";
  EXPECT_EQ(record.productCode, L"{A};{B};");
  EXPECT_EQ(record.productName, L"Suite");
  EXPECT_EQ(record.targetVersions, L"1.0,1.1");
  EXPECT_EQ(copy.upgradeVersion, L"2.0");
}

}  // namespace
}  // namespace updater
