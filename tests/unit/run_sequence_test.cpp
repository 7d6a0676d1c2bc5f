#include <gtest/gtest.h>

#include "launcher/run_sequence.h"
#include "messages/catalogue.h"
#include "tests/fakes/fake_installer.h"
#include "tests/fakes/fake_system.h"
#include "tests/fakes/string_tables.h"

namespace updater {
namespace {

using testing::FakeInstaller;
using testing::FakeSystem;

// How a payload's run is made to end: A applied, U up to date, F failed (no target installed),
// N not carried at all.
struct SequenceCase {
  const char* name;
  char global, languagePack, productSpecific;
  std::vector<uint32_t> messages;  // in order
  int runsMade;
  bool result;
};

class RunSequence : public ::testing::TestWithParam<SequenceCase> {
 protected:
  void Prepare(const wchar_t* resource, char kind, const std::wstring& code,
               const std::wstring& name) {
    if (kind == 'N') return;
    const std::string content = "MSP " + std::string(resource, resource + std::wcslen(resource));
    system.AddPayload(resource, content);
    installer.AddPackageContent(content, code, L"2.0;1.0");
    if (kind == 'A') installer.AddProduct(code, name, L"1033", L"1.0");
    if (kind == 'U') installer.AddProduct(code, name, L"1033", L"2.0");
  }
  FakeSystem system;
  FakeInstaller installer;
  bool quiet = false;
};

TEST_P(RunSequence, ClosingMessage) {
  const SequenceCase& c = GetParam();
  testing::LoadStringTable(system, 1033);
  installer.readFile = [this](const std::wstring& path) { return system.ReadFile(path); };
  Prepare(kPayloadGlobal, c.global, L"{G}", L"Global Product");
  Prepare(kPayloadLanguagePack, c.languagePack, L"{L}", L"Language Pack Product");
  Prepare(kPayloadProductSpecific, c.productSpecific, L"{P}", L"Specific Product");

  PayloadStore store(system);
  MessageBoxes messages(system, quiet);
  PayloadApplier applier(system, installer, store, messages);
  EXPECT_EQ(RunPayloadSequence(applier, messages), c.result);

  std::vector<std::wstring> expected;
  for (uint32_t id : c.messages) {
    std::wstring format;
    LoadText(system, id, format, 256);
    const size_t at = format.find(L"%s");
    // The message product name is the global run's product, or empty when it never got that far.
    const std::wstring name = (c.global == 'A' || c.global == 'U') ? L"Global Product" : L"";
    expected.push_back(
        at == std::wstring::npos ? format : format.substr(0, at) + name + format.substr(at + 2));
  }
  std::vector<std::wstring> shown;
  for (const auto& box : system.boxes()) shown.push_back(box.text);
  EXPECT_EQ(shown, expected);

  // Runs that were made wrote their payload (MSP2, MSP3, ...) and opened it.
  size_t opened = 0;
  for (const auto& call : installer.calls()) opened += call == L"GetSummaryInformation";
  int carriedRuns = 0;
  const char kinds[] = {c.global, c.languagePack, c.productSpecific};
  for (int i = 0; i < c.runsMade; ++i) carriedRuns += kinds[i] != 'N';
  EXPECT_EQ(opened, static_cast<size_t>(carriedRuns) * 2);
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
  FakeSystem system;
  FakeInstaller installer;
  testing::LoadStringTable(system, 1033);
  installer.readFile = [&system](const std::wstring& path) { return system.ReadFile(path); };
  system.AddPayload(kPayloadGlobal, std::string("g"));
  installer.AddPackageContent("g", L"{G}", L"2.0;1.0");
  system.AddPayload(kPayloadLanguagePack, std::string("l"));
  installer.AddPackageContent("l", L"{L}", L"2.0;1.0");
  system.AddPayload(kPayloadProductSpecific, std::string("p"));
  installer.AddPackageContent("p", L"{P}", L"2.0;1.0");
  installer.AddProduct(L"{G}", L"G", L"1033", L"1.0");
  installer.AddProduct(L"{P}", L"P", L"1033", L"1.0");  // the language pack's target is missing

  bool quiet = true;
  PayloadStore store(system);
  MessageBoxes messages(system, quiet);
  PayloadApplier applier(system, installer, store, messages);
  EXPECT_FALSE(RunPayloadSequence(applier, messages));
  EXPECT_TRUE(system.boxes().empty());
  std::vector<std::wstring> configured;
  for (const auto& c : installer.configurations()) configured.push_back(c.productCode);
  EXPECT_EQ(configured, std::vector<std::wstring>{L"{G}"});  // stopped after the failed run
}

TEST(RunSequenceLocale, ClosingMessageUsesTheLocaleTheRunsLeft) {
  FakeSystem system;
  FakeInstaller installer;
  testing::LoadStringTable(system, 1033);
  system.AddStringTable(1031, {{301, L"Aktualisiert: %s"}, {312, L"Erfolg"}});
  installer.readFile = [&system](const std::wstring& path) { return system.ReadFile(path); };
  system.AddPayload(kPayloadGlobal, std::string("g"));
  installer.AddPackageContent("g", L"{G}", L"2.0;1.0");
  installer.AddProduct(L"{G}", L"Suite", L"1031", L"1.0");
  bool quiet = false;
  PayloadStore store(system);
  MessageBoxes messages(system, quiet);
  PayloadApplier applier(system, installer, store, messages);
  EXPECT_TRUE(RunPayloadSequence(applier, messages));
  ASSERT_EQ(system.boxes().size(), 1u);
  EXPECT_EQ(system.boxes()[0].text, L"Aktualisiert: Suite");
  EXPECT_EQ(system.boxes()[0].caption, L"Erfolg");
}

}  // namespace
}  // namespace updater
