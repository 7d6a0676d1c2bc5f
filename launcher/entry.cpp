#include "launcher/entry.h"

#include "apply/apply_payload.h"
#include "diagnostics/info_report.h"
#include "launcher/run_sequence.h"
#include "launcher/settings.h"
#include "messages/catalogue.h"

namespace updater {

int RunUpdater(System& system, Installer& installer) {
  Settings settings;
  ParseCommandLine(system, settings);

  PayloadStore store(system);
  MessageBoxes messages(system, settings.quiet);
  PayloadApplier applier(system, installer, store, messages);

  if (settings.apply) {
    RunPayloadSequence(applier, messages);
  } else {
    if (settings.extract) {
      // Each payload's name starts from the path as given.
      std::wstring languagePackPath = settings.extractPath;
      std::wstring productSpecificPath = settings.extractPath;
      store.ExtractPayload(settings.extractPath, kPayloadGlobal, 0);
      store.ExtractPayload(languagePackPath, kPayloadLanguagePack, kSuffixLanguagePack);
      store.ExtractPayload(productSpecificPath, kPayloadProductSpecific, kSuffixProductSpecific);
    }
    if (settings.info) ShowInformationReport(system, installer, store);
  }
  applier.EmptyApplicableProducts();
  return 0;
}

}  // namespace updater
