#include <gtest/gtest.h>

#include "launcher/run_sequence.h"
#include "messages/catalogue.h"
#include "tests/fakes/fake_platform.h"
#include "tests/unit/placed_options.h"

namespace updater {
namespace {

// How a payload's run is made to end: A applied, U up to date, F failed (no target installed),
// N not carried at all.
struct SequenceCase {
  const char* name;
  char global, languagePack, productSpecific;
  std::vector<uint32_t> messages;  // in order
  int runsMade;
  bool result;
};

class RunSequence : public ::testing::TestWithParam<SequenceCase>, public testing::FakePlatform {
 protected:
  void Prepare(const wchar_t* resource, char kind, const std::wstring& code,
               const std::wstring& name) {
    if (kind == 'N') return;
    CarryPayload(resource, code, L"2.0;1.0");
    if (kind == 'A') installer.AddProduct(code, name, L"1033", L"1.0");
    if (kind == 'U') installer.AddProduct(code, name, L"1033", L"2.0");
  }
};

TEST_P(RunSequence, ClosingMessage) {
  const SequenceCase& c = GetParam();
  Prepare(kPayloadGlobal, c.global, L"{G}", L"Global Product");
  Prepare(kPayloadLanguagePack, c.languagePack, L"{L}", L"Language Pack Product");
  Prepare(kPayloadProductSpecific, c.productSpecific, L"{P}", L"Specific Product");

  PayloadStore store(system);
  MessageBoxes messages(system, false);
  PayloadApplier applier(system, installer, store, messages);
  applier.SetOptions(PlacedOptions(system));
  const SequenceResult result = RunPayloadSequence(applier, messages, {1033, L"", 0});
  EXPECT_EQ(result.completed, c.result);
  EXPECT_EQ(result.runs.size(), static_cast<size_t>(c.runsMade));

  std::vector<std::wstring> expected;
  for (uint32_t id : c.messages) {
    // The message product name is the global run's product, or empty when it never got that far.
    const std::wstring name = (c.global == 'A' || c.global == 'U') ? L"Global Product" : L"";
    expected.push_back(MessageText(id, name));
  }
  EXPECT_EQ(BoxTexts(), expected);

  // Runs that were made wrote their payload (MSP2, MSP3, ...) and opened it once.
  size_t opened = 0;
  for (const auto& call : installer.calls()) opened += call == L"GetSummaryInformation";
  int carriedRuns = 0;
  const char kinds[] = {c.global, c.languagePack, c.productSpecific};
  for (int i = 0; i < c.runsMade; ++i) carriedRuns += kinds[i] != 'N';
  EXPECT_EQ(opened, static_cast<size_t>(carriedRuns));
  EXPECT_TRUE(system.PayloadCopies().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunSequence,
    ::testing::Values(
        SequenceCase{"global_failed", 'F', 'A', 'A', {307}, 1, false},
        SequenceCase{"language_pack_failed", 'A', 'F', 'A', {307}, 2, false},
        SequenceCase{"unnecessary_then_failed", 'U', 'F', 'A', {307}, 2, false},
        SequenceCase{"product_specific_failed", 'U', 'A', 'F', {307}, 3, false},
        SequenceCase{"last_applied", 'U', 'U', 'A', {301}, 3, true},
        SequenceCase{"all_applied", 'A', 'A', 'A', {301}, 3, true},
        SequenceCase{"global_applied_others_unnecessary", 'A', 'U', 'U', {301}, 3, true},
        SequenceCase{"language_pack_applied", 'U', 'A', 'U', {301}, 3, true},
        SequenceCase{"all_unnecessary", 'U', 'U', 'U', {306}, 3, true},
        SequenceCase{"only_global_carried_and_up_to_date", 'U', 'N', 'N', {306}, 3, true},
        SequenceCase{"only_global_carried_and_applied", 'A', 'N', 'N', {301}, 3, true},
        SequenceCase{"nothing_carried", 'N', 'N', 'N', {306}, 3, true}),
    [](const ::testing::TestParamInfo<SequenceCase>& param) {
      return std::string(param.param.name);
    });

TEST(RunSequenceQuiet, SameRunsAndNoBox) {
  testing::FakePlatform platform;
  platform.CarryPayload(kPayloadGlobal, L"{G}", L"2.0;1.0");
  platform.CarryPayload(kPayloadLanguagePack, L"{L}", L"2.0;1.0");
  platform.CarryPayload(kPayloadProductSpecific, L"{P}", L"2.0;1.0");
  platform.installer.AddProduct(L"{G}", L"G", L"1033", L"1.0");
  platform.installer.AddProduct(L"{P}", L"P", L"1033", L"1.0");  // the language pack's is missing

  PayloadStore store(platform.system);
  MessageBoxes messages(platform.system, true);
  PayloadApplier applier(platform.system, platform.installer, store, messages);
  applier.SetOptions(PlacedOptions(platform.system));
  EXPECT_FALSE(RunPayloadSequence(applier, messages, {1033, L"", 0}).completed);
  EXPECT_TRUE(platform.system.boxes().empty());
  // Stopped after the failed run.
  EXPECT_EQ(platform.ConfiguredCodes(), std::vector<std::wstring>{L"{G}"});
}

// The closing message comes in the language the runs left: the last product's, the user's when
// every product of the last run that reached its products was up to date.
struct ClosingLanguageCase {
  const char* name;
  const wchar_t* globalVersion;        // of the German product "{G}"
  const wchar_t* languagePackVersion;  // of the Japanese product "{L}"; nullptr: not carried
  std::wstring text;
};

class RunSequenceClosingLanguage : public ::testing::TestWithParam<ClosingLanguageCase>,
                                   public testing::FakePlatform {};

TEST_P(RunSequenceClosingLanguage, FollowsTheRuns) {
  const ClosingLanguageCase& c = GetParam();
  system.AddStringTable(1031, {{301, L"Aktualisiert: %s"}, {306, L"Aktuell: %s"}});
  system.AddStringTable(1041, {{301, L"ja 301 %s"}, {306, L"ja 306 %s"}});
  system.AddStringTable(1049, {{301, L"ru 301 %s"}, {306, L"ru 306 %s"}});
  system.SetUserDefaultLocale(1049);
  CarryPayload(kPayloadGlobal, L"{G}", L"2.0;1.0");
  installer.AddProduct(L"{G}", L"Suite", L"1031", c.globalVersion);
  if (c.languagePackVersion != nullptr) {
    CarryPayload(kPayloadLanguagePack, L"{L}", L"2.0;1.0");
    installer.AddProduct(L"{L}", L"Pack", L"1041", c.languagePackVersion);
  }
  PayloadStore store(system);
  MessageBoxes messages(system, false);
  PayloadApplier applier(system, installer, store, messages);
  applier.SetOptions(PlacedOptions(system));
  EXPECT_TRUE(RunPayloadSequence(applier, messages, {1033, L"", 0}).completed);
  EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{c.text});
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunSequenceClosingLanguage,
    ::testing::Values(
        ClosingLanguageCase{"global_patched_alone", L"1.0", nullptr, L"Aktualisiert: Suite"},
        ClosingLanguageCase{"global_up_to_date_alone", L"2.0", nullptr, L"ru 306 Suite"},
        ClosingLanguageCase{"language_pack_patched_last", L"1.0", L"1.0", L"ja 301 Suite"},
        ClosingLanguageCase{"language_pack_up_to_date_last", L"1.0", L"2.0", L"ru 301 Suite"}),
    [](const ::testing::TestParamInfo<ClosingLanguageCase>& param) {
      return std::string(param.param.name);
    });

}  // namespace
}  // namespace updater
