#include <gtest/gtest.h>

#include "payload/derived_name.h"
#include "payload/payload_kinds.h"
#include "payload/payload_store.h"
#include "payload/user_temp_folder.h"
#include "tests/fakes/fake_system.h"

namespace updater {
namespace {

using testing::FakeSystem;

class TempNames : public ::testing::Test {
 protected:
  std::wstring Choose() {
    const Outcome<std::wstring> name = generator.ChooseName(system, ChooseUserTempFolder(system));
    EXPECT_TRUE(name.ok());
    return name ? *name : L"";
  }
  FakeSystem system;
  TempNameGenerator generator;
};

TEST_F(TempNames, FirstNameIsMsp2ThenTheNumbersGoOn) {
  EXPECT_EQ(Choose(), L"C:\\Temp\\MSP2");
  EXPECT_EQ(Choose(), L"C:\\Temp\\MSP3");  // nothing was created, the counter still moves on
}

TEST_F(TempNames, SkipsNamesThatAreTakenOrCannotBeTested) {
  system.AddFile(L"C:\\Temp\\MSP2");
  system.AddDirectory(L"C:\\Temp\\MSP3");
  system.DenyAccess(L"C:\\Temp\\MSP4");
  EXPECT_EQ(Choose(), L"C:\\Temp\\MSP5");
  system.AddFile(L"C:\\Temp\\MSP6");
  EXPECT_EQ(Choose(), L"C:\\Temp\\MSP7");
}

TEST_F(TempNames, DirectoryChoice) {
  struct Case {
    const char* what;
    std::optional<std::wstring> tmp;
    bool tempFolderExists;
    std::optional<std::wstring> expected;  // nothing: the request fails
  };
  const Case cases[] = {
      {"TMP set", L"D:\\Scratch", true, L"D:\\Scratch\\MSP2"},
      {"TMP with slash", L"D:\\Scratch/", true, L"D:\\Scratch/MSP2"},
      {"TMP unset", std::nullopt, true, L"C:\\Temp\\MSP2"},
      {"TMP empty", L"", true, L"C:\\Temp\\MSP2"},
      {"TMP missing folder", L"D:\\Gone", true, L"C:\\Temp\\MSP2"},
      {"TMP names a file", L"D:\\file.txt", true, L"C:\\Temp\\MSP2"},
      {"TMP set, temp folder missing", L"D:\\Scratch", false, L"D:\\Scratch\\MSP2"},
      // Neither a drive root nor the current folder stands in for a missing temporary folder.
      {"temp folder missing", std::nullopt, false, std::nullopt},
      {"TMP missing and temp folder missing", L"D:\\Gone", false, std::nullopt},
  };
  for (const Case& c : cases) {
    FakeSystem fresh;
    fresh.AddDirectory(L"D:\\Scratch");
    fresh.AddFile(L"D:\\file.txt");
    fresh.AddDirectory(L"\\");
    fresh.AddDirectory(L".");
    if (c.tmp) fresh.SetEnvironment(L"TMP", c.tmp);
    if (!c.tempFolderExists) fresh.RemoveEntry(L"C:\\Temp");
    TempNameGenerator freshGenerator;
    const Outcome<std::wstring> name =
        freshGenerator.ChooseName(fresh, ChooseUserTempFolder(fresh));
    EXPECT_EQ(name.ok(), c.expected.has_value()) << c.what;
    if (name) {
      EXPECT_EQ(*name, c.expected.value_or(L"")) << c.what;
    }
    if (!c.expected) {
      EXPECT_EQ(name.error(), kErrorPathNotFound) << c.what;
    }
  }
}

TEST_F(TempNames, UnusableTempFolderFailsAsPathNotFound) {
  // 0: the query itself fails (with an error of its own); 1025 and 5000: the folder is too long.
  for (uint32_t result : {0u, 1025u, 5000u}) {
    system.SetTempPathResult(result);
    const Outcome<std::wstring> name = generator.ChooseName(system, ChooseUserTempFolder(system));
    EXPECT_FALSE(name.ok()) << result;
    EXPECT_EQ(name.error(), kErrorPathNotFound) << result;
  }
}

// A derived name, or nothing when it is refused (always as "file name too long").
std::optional<std::wstring> Derive(const std::wstring& target, uint32_t suffixId) {
  const std::wstring suffix = suffixId == 317 ? L"_lp" : suffixId == 318 ? L"_ps" : L"";
  const Outcome<std::wstring> derived = DeriveTargetName(target, suffix);
  if (!derived) {
    EXPECT_EQ(derived.error(), kErrorFilenameExcedRange);
    return std::nullopt;
  }
  return *derived;
}

TEST(DerivedNames, InsertsTheSuffixBeforeTheExtension) {
  struct Case {
    std::wstring target;
    std::wstring suffix;
    std::wstring expected;
  };
  const Case cases[] = {
      {L"D:\\Out\\Fix.msp", L"", L"D:\\Out\\Fix.msp"},
      {L"D:\\Out\\Fix.msp", L"_lp", L"D:\\Out\\Fix_lp.msp"},
      {L"D:\\Out\\Fix.msp", L"_ps", L"D:\\Out\\Fix_ps.msp"},
      {L"Fix.msp", L"_lp", L"Fix_lp.msp"},
      {L"D:\\Out\\Fix.beta.msp", L"_lp", L"D:\\Out\\Fix.beta_lp.msp"},
      {L"D:\\Out.d\\Fix", L"_ps", L"D:\\Out.d\\Fix_ps"},  // a dot in the folder is no extension
      {L"D:\\Fix", L"", L"D:\\Fix"},
      {L"D:Fix.msp", L"_lp", L"D:Fix_lp.msp"},
      {L"D:/Out/Fix.msp", L"_ps", L"D:/Out/Fix_ps.msp"},
      {L"D:\\Out\\.msp", L"_lp", L"D:\\Out\\_lp.msp"},
      {L"D:\\Out\\Fix.msp", L"-x86.v2", L"D:\\Out\\Fix-x86.v2.msp"},  // taken as it is
  };
  for (const Case& c : cases) {
    const Outcome<std::wstring> derived = DeriveTargetName(c.target, c.suffix);
    ASSERT_TRUE(derived.ok()) << std::string(c.target.begin(), c.target.end());
    EXPECT_EQ(*derived, c.expected);
  }
}

TEST(DerivedNames, TargetsThatDoNotFitAreRefused) {
  const std::wstring longest = L"D:\\" + std::wstring(240, L'f') + L"\\Fixabcdefgh.msp";  // 259
  ASSERT_EQ(longest.size(), 259u);
  EXPECT_EQ(Derive(longest, 0), longest);
  EXPECT_FALSE(Derive(longest, 317));  // 262 once the suffix is in
  EXPECT_FALSE(Derive(longest + L"x", 0));
  EXPECT_FALSE(Derive(std::wstring(300, L'a'), 0));
}

TEST(DerivedNames, NameAndExtensionLimits) {
  EXPECT_TRUE(Derive(std::wstring(255, L'n') + L".msp", 0));
  EXPECT_FALSE(Derive(std::wstring(256, L'n') + L".msp", 0));
  EXPECT_FALSE(Derive(std::wstring(253, L'n') + L".msp", 317));  // 256 with the suffix
  EXPECT_FALSE(Derive(L"x." + std::wstring(255, L'e'), 0));      // extension of 256
  EXPECT_TRUE(Derive(L"x." + std::wstring(254, L'e'), 0));
  // Fits before the suffix, not after it.
  EXPECT_FALSE(
      Derive(L"D:\\" + std::wstring(200, L'f') + L"\\" + std::wstring(50, L'n') + L".ms", 318));
}

class Extraction : public ::testing::Test {
 protected:
  void SetUp() override {
    system.AddDirectory(L"D:\\Out");
    system.AddPayload(kPayloadGlobal, std::string("\xD0\xCF\x11\xE0 payload bytes"));
  }
  FakeSystem system;
  PayloadStore store{system};
};

TEST_F(Extraction, TemporaryNameWritesTheWholePayloadExclusively) {
  const WriteResult written =
      store.WritePayloadToNewFile(kPayloadGlobal, ChooseUserTempFolder(system));
  EXPECT_EQ(written.status, ExtractStatus::kWritten);
  EXPECT_EQ(written.path, L"C:\\Temp\\MSP2");
  EXPECT_EQ(system.ContentOf(written.path), std::string("\xD0\xCF\x11\xE0 payload bytes"));
  ASSERT_EQ(system.creations().size(), 1u);
  EXPECT_TRUE(system.creations()[0].second);  // created anew, never truncating
  EXPECT_EQ(system.openFiles(), 0);
}

TEST_F(Extraction, NameTakenBetweenTestAndCreationMovesOn) {
  // Another process plants a file at MSP2 right after it was found free.
  system.afterMissingTest = [this](const std::wstring& path) {
    if (path == L"C:\\Temp\\MSP2") {
      system.AddFile(path, "planted");
      system.afterMissingTest = nullptr;
    }
  };
  const WriteResult written =
      store.WritePayloadToNewFile(kPayloadGlobal, ChooseUserTempFolder(system));
  EXPECT_EQ(written.status, ExtractStatus::kWritten);
  EXPECT_EQ(written.path, L"C:\\Temp\\MSP3");
  EXPECT_EQ(system.ContentOf(L"C:\\Temp\\MSP2"), "planted");
}

TEST_F(Extraction, PlantedThingsAtTheNameAreNeverOpened) {
  system.AddFile(L"C:\\Temp\\MSP2", "planted");
  system.AddDirectory(L"C:\\Temp\\MSP3");
  const WriteResult written =
      store.WritePayloadToNewFile(kPayloadGlobal, ChooseUserTempFolder(system));
  EXPECT_EQ(written.status, ExtractStatus::kWritten);
  EXPECT_EQ(written.path, L"C:\\Temp\\MSP4");
  EXPECT_EQ(system.ContentOf(L"C:\\Temp\\MSP2"), "planted");
  for (const auto& [path, exclusive] : system.creations()) EXPECT_NE(path, L"C:\\Temp\\MSP2");
}

TEST_F(Extraction, DanglingLinkAtANameMovesOnToTheNext) {
  system.AddDanglingLink(L"C:\\Temp\\MSP2");
  const WriteResult written =
      store.WritePayloadToNewFile(kPayloadGlobal, ChooseUserTempFolder(system));
  EXPECT_EQ(written.status, ExtractStatus::kWritten);
  EXPECT_EQ(written.path, L"C:\\Temp\\MSP3");
  EXPECT_FALSE(system.Exists(L"C:\\Temp\\MSP2"));
}

TEST_F(Extraction, ReadOnlyFolderReportsTheCreationError) {
  system.MakeReadOnly(L"C:\\Temp");
  const WriteResult result =
      store.WritePayloadToNewFile(kPayloadGlobal, ChooseUserTempFolder(system));
  EXPECT_EQ(result.status, ExtractStatus::kFailed);
  EXPECT_EQ(result.error, kErrorAccessDenied);
  EXPECT_EQ(system.creations().size(), 1u);
  EXPECT_TRUE(system.FilesUnder(L"C:\\Temp\\").empty());
}

TEST_F(Extraction, SecondRequestGoesOnFromTheLastNumber) {
  store.WritePayloadToNewFile(kPayloadGlobal, ChooseUserTempFolder(system));
  EXPECT_EQ(store.WritePayloadToNewFile(kPayloadGlobal, ChooseUserTempFolder(system)).path,
            L"C:\\Temp\\MSP3");
}

TEST_F(Extraction, DerivedNamesWithSuffixes) {
  system.AddPayload(kPayloadProductSpecific, std::string("ps"));
  const std::wstring given = L"D:\\Out\\Fix.msp";
  EXPECT_EQ(store.WritePayloadAt(given, L"", kPayloadGlobal).status, ExtractStatus::kWritten);
  const WriteResult languagePack = store.WritePayloadAt(given, L"_lp", kPayloadLanguagePack);
  EXPECT_EQ(languagePack.status, ExtractStatus::kNotCarried);
  EXPECT_EQ(store.WritePayloadAt(given, L"_ps", kPayloadProductSpecific).status,
            ExtractStatus::kWritten);
  EXPECT_EQ(languagePack.path, L"D:\\Out\\Fix_lp.msp");  // the name is settled even without payload
  EXPECT_FALSE(system.Exists(L"D:\\Out\\Fix_lp.msp"));
  EXPECT_EQ(system.ContentOf(L"D:\\Out\\Fix_ps.msp"), "ps");
  EXPECT_FALSE(system.creations()[0].second);  // the user's own target is replaced, not refused
}

TEST_F(Extraction, DerivedNameReplacesAnExistingFile) {
  system.AddFile(L"D:\\Out\\Fix.msp", "old content that is longer");
  const std::wstring target = L"D:\\Out\\Fix.msp";
  EXPECT_EQ(store.WritePayloadAt(target, L"", kPayloadGlobal).status, ExtractStatus::kWritten);
  EXPECT_EQ(system.ContentOf(target), std::string("\xD0\xCF\x11\xE0 payload bytes"));
}

TEST_F(Extraction, Failures) {
  struct Case {
    const char* what;
    std::wstring target;
    std::wstring payload;
    ExtractStatus expected;
  };
  system.AddPayload(L"EMPTY", std::vector<std::byte>{});
  const Case cases[] = {
      {"missing folder", L"D:\\Nowhere\\Fix.msp", kPayloadGlobal, ExtractStatus::kFailed},
      {"target is a folder", L"D:\\Out", kPayloadGlobal, ExtractStatus::kFailed},
      {"target too long", L"D:\\" + std::wstring(300, L'x'), kPayloadGlobal,
       ExtractStatus::kFailed},
      {"not carried", L"D:\\Out\\x.msp", L"IDR_MSP_LP", ExtractStatus::kNotCarried},
      {"empty payload", L"D:\\Out\\y.msp", L"EMPTY", ExtractStatus::kFailed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(store.WritePayloadAt(c.target, L"", c.payload).status, c.expected) << c.what;
  }
  EXPECT_FALSE(system.Exists(L"D:\\Out\\x.msp"));
  EXPECT_FALSE(system.Exists(L"D:\\Out\\y.msp"));
  EXPECT_TRUE(system.IsDirectory(L"D:\\Out"));
}

TEST_F(Extraction, TooLongTargetReportsTheRangeErrorAndWritesNothing) {
  const std::wstring given = L"D:\\Out\\" + std::wstring(300, L'x') + L".msp";
  const WriteResult result = store.WritePayloadAt(given, L"", kPayloadGlobal);
  EXPECT_EQ(result.status, ExtractStatus::kFailed);
  EXPECT_EQ(result.error, kErrorFilenameExcedRange);
  EXPECT_EQ(result.path, given);
  EXPECT_TRUE(system.creations().empty());
}

TEST_F(Extraction, ShortWriteRemovesThePartialFileInBothModes) {
  for (const std::wstring& given : {std::wstring(), std::wstring(L"D:\\Out\\Fix.msp")}) {
    system.SetFreeSpace(4);
    const WriteResult result =
        given.empty() ? store.WritePayloadToNewFile(kPayloadGlobal, ChooseUserTempFolder(system))
                      : store.WritePayloadAt(given, L"", kPayloadGlobal);
    EXPECT_EQ(result.status, ExtractStatus::kFailed);
    EXPECT_EQ(result.error, kErrorDiskFull) << given;
    EXPECT_FALSE(result.path.empty()) << given;
    EXPECT_FALSE(system.Exists(result.path)) << given;
    EXPECT_EQ(system.openFiles(), 0);
  }
}

TEST_F(Extraction, UnusableTempFolderFailsOnlyForCarriedPayloads) {
  system.SetTempPathResult(0);
  const WriteResult global =
      store.WritePayloadToNewFile(kPayloadGlobal, ChooseUserTempFolder(system));
  EXPECT_EQ(global.status, ExtractStatus::kFailed);
  EXPECT_EQ(global.path, L"");
  EXPECT_EQ(store.WritePayloadToNewFile(kPayloadLanguagePack, ChooseUserTempFolder(system)).status,
            ExtractStatus::kNotCarried);
  EXPECT_TRUE(system.creations().empty());
}

}  // namespace
}  // namespace updater
