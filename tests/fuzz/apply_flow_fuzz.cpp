// One payload's run over any code list, versions, product table and installer results: no
// crash, the payload copy is always deleted, no summary handle stays open, only installed
// products whose version is a target version are patched, and every text built fits its buffer.
#include <cstdlib>

#include "apply/apply_payload.h"
#include "inspection/four_part_version.h"
#include "payload/run_places.h"
#include "payload/user_temp_folder.h"
#include "platform/decimal_text.h"
#include "tests/fakes/fake_installer.h"
#include "tests/fakes/fake_system.h"
#include "tests/fakes/string_tables.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace updater;
  // Sections separated by '|': codes, versions, then one section per product:
  // code ':' state ':' version ':' language ':' name ':' result
  const std::vector<std::wstring> sections = fuzzing::Split(fuzzing::SmallText(data, size), L'|');
  if (sections.size() < 2) return 0;

  testing::FakeSystem system;
  static const auto english = testing::ReadStringTable(1033);
  system.AddStringTable(1033, english);
  testing::FakeInstaller installer;
  installer.readFile = [&system](const std::wstring& path) { return system.ReadFile(path); };
  system.AddPayload(kPayloadGlobal, std::string("patch"));
  installer.AddPackageContent("patch", sections[0], sections[1]);
  for (size_t i = 2; i < sections.size(); ++i) {
    std::vector<std::wstring> fields = fuzzing::Split(sections[i], L':');
    fields.resize(6);
    installer.AddProduct(fields[0], fields[4], fields[3], fields[2], ReadDecimal(fields[1]));
    installer.SetConfigureResult(fields[0], static_cast<uint32_t>(ReadDecimal(fields[5])));
  }

  PayloadStore store(system);
  MessageBoxes messages(system, false);
  PayloadApplier applier(system, installer, store, messages);
  ApplyOptions options;
  options.copyFolder = ChooseUserTempFolder(system);
  options.logFolder = FindRunPlaces(system, false).installerLogFolder;
  applier.SetOptions(options);
  const PayloadRun run = applier.ApplyPayload(kPayloadKinds[0], {1033, L"", 0});

  Check(system.FilesUnder(L"C:\\Temp\\").empty());
  Check(installer.openHandles() == 0 && installer.doubleCloses() == 0);
  Check(installer.uiLevel() == 5);
  Check(run.outcome != PayloadOutcome::Applied || !installer.configurations().empty());
  // The target versions as the package states them, after the first ";".
  const std::wstring versions = sections[1].substr(0, sections[1].find(L'\0'));
  const size_t separator = versions.find(L';');
  const std::wstring targetVersions =
      separator == std::wstring::npos ? std::wstring() : versions.substr(separator + 1);
  for (const auto& call : installer.configurations()) {
    const ProductRun* productRun = nullptr;
    for (const auto& candidate : run.products) {
      if (candidate.plan.product.productCode == call.productCode) productRun = &candidate;
    }
    Check(productRun != nullptr && productRun->plan.decision.decision == Decision::kPatch);
    Check(call.commandLine.size() <= 1023 && call.logFile.size() <= 259);
    const FourPartVersion installed =
        FourPartVersion::FromText(productRun->plan.product.installedVersion);
    bool targeted = false;
    for (const auto& entry : fuzzing::Split(targetVersions, L',')) {
      targeted = targeted || FourPartVersion::FromText(entry).Equals(installed);
    }
    Check(targeted);
  }
  for (const auto& productRun : run.products) {
    Check(IsProductInstalled(installer, productRun.plan.product.productCode));
    Check(!productRun.plan.product.productCode.empty() &&
          productRun.plan.product.productCode.find(L';') == std::wstring::npos);
  }
  for (const auto& box : system.boxes()) Check(box.text.size() <= 255 + 511);
  return 0;
}
