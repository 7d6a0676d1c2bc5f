#include "launcher/entry.h"

#include "apply/apply_payload.h"
#include "diagnostics/info_report.h"
#include "launcher/run_sequence.h"
#include "launcher/settings.h"
#include "messages/catalogue.h"
#include "payload/private_folder.h"

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
  std::unique_ptr<PrivateFolder> folder;
  if (error == 0) error = PrivateFolder::Create(system, root.folder, elevated, folder);
  if (error == 0) SweepStaleFolders(system, root.folder, folder->path());
  if (error == 0) {
    store.UseTempDirectory(folder->path());
  } else {
    store.RefuseTempNames(error);
  }
  return folder;
}

}  // namespace

int RunUpdater(System& system, Installer& installer) {
  Settings settings;
  ParseCommandLine(system, settings);

  PayloadStore store(system);
  MessageBoxes messages(system, settings.quiet);
  PayloadApplier applier(system, installer, store, messages);

  // Removed with everything in it when the run ends, after every copy in it is closed.
  std::unique_ptr<PrivateFolder> ground;
  if (settings.apply) {
    ground = PrepareGround(system, store, true);
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
    // "/e" without a path writes into the user's temporary folder: its files are the user's.
    if (settings.info) {
      ground = PrepareGround(system, store, false);
      ShowInformationReport(system, installer, store);
    }
  }
  applier.EmptyApplicableProducts();
  return 0;
}

}  // namespace updater
