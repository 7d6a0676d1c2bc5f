#include "launcher/entry.h"

#include "apply/apply_payload.h"
#include "diagnostics/info_report.h"
#include "launcher/run_sequence.h"
#include "launcher/settings.h"
#include "messages/catalogue.h"
#include "payload/payload_kinds.h"
#include "payload/private_folder.h"
#include "platform/path_limits.h"

namespace updater {

namespace {

// Gives the store the run's private folder for its temporary copies, after removing the folders
// of earlier runs that were killed; or, where no such folder can be had, the reason, which every
// later copy then fails with. With checkUserTemp, an unusable user's temporary folder (the place
// of the installer logs) is such a reason too.
std::unique_ptr<PrivateFolder> PrepareGround(System& system, PayloadStore& store,
                                             bool checkUserTemp) {
  const FolderChoice userTemp = ChooseUserTempFolder(system);
  const bool elevated = system.IsElevated();
  const FolderChoice root = ChoosePrivateRoot(system, elevated, userTemp);
  uint32_t error = checkUserTemp ? userTemp.error : 0;
  if (error == 0) error = root.error;
  if (error != 0) {
    store.RefuseCopies(error);
    return nullptr;
  }
  Outcome<std::unique_ptr<PrivateFolder>> folder =
      PrivateFolder::Create(system, root.folder, elevated);
  if (!folder) {
    store.RefuseCopies(folder.error());
    return nullptr;
  }
  SweepStaleFolders(system, root.folder, (*folder)->path());
  store.UseCopyFolder((*folder)->path());
  return std::move(*folder);
}

}  // namespace

int RunUpdater(System& system, Installer& installer) {
  Settings settings;
  ParseCommandLine(system, settings);

  // Until a product's language is known, texts come in the language the process started with.
  const uint32_t startLanguage = system.ThreadLocale();
  PayloadStore store(system);

  // Removed with everything in it when the run ends, after every copy in it is closed.
  std::unique_ptr<PrivateFolder> ground;
  if (settings.apply) {
    ground = PrepareGround(system, store, true);
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
    // "/e" without a path writes into the user's temporary folder: its files are the user's.
    if (settings.info) {
      ground = PrepareGround(system, store, false);
      ShowInformationReport(system, installer, store);
    }
  }
  return 0;
}

}  // namespace updater
