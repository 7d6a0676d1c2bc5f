#include "launcher/entry.h"

#include "apply/apply_payload.h"
#include "diagnostics/info_report.h"
#include "launcher/run_sequence.h"
#include "launcher/settings.h"
#include "messages/catalogue.h"
#include "payload/payload_kinds.h"
#include "platform/path_limits.h"

namespace updater {

int RunUpdater(System& system, Installer& installer) {
  Settings settings;
  ParseCommandLine(system, settings);

  // Until a product's language is known, texts come in the language the process started with.
  const uint32_t startLanguage = system.ThreadLocale();
  PayloadStore store(system);

  if (settings.apply) {
    MessageBoxes messages(system, settings.quiet);
    PayloadApplier applier(system, installer, store, messages);
    RunPayloadSequence(applier, messages, MessageContext{startLanguage, L"", 0});
  } else {
    if (settings.extract) {
      for (const PayloadKind& kind : kPayloadKinds) {
        // Each payload's name starts from the path as given.
        std::wstring target = settings.extractPath;
        std::wstring suffix;
        if (kind.suffixId != 0) {
          LoadText(system, kind.suffixId, startLanguage, suffix, kMaxPathCapacity);
        }
        store.ExtractPayload(target, kind.resourceName, suffix);
      }
    }
    if (settings.info) ShowInformationReport(system, installer, store);
  }
  return 0;
}

}  // namespace updater
