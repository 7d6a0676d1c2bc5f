#include "apply/installer_result.h"

#include "apply/installer_wait.h"
#include "platform/installer.h"

namespace updater {

InstallerResultKind ClassifyInstallerResult(uint32_t result) {
  switch (result) {
    case 0:
      return InstallerResultKind::kSuccess;
    case kErrorSuccessRebootRequired:
      return InstallerResultKind::kRestartRequired;
    case kErrorSuccessRebootInitiated:
      return InstallerResultKind::kRestartStarted;
    case kErrorInstallAlreadyRunning:
      return InstallerResultKind::kAnotherInstall;
    default:
      return InstallerResultKind::kFailed;
  }
}

bool IsPatched(InstallerResultKind kind) {
  return kind == InstallerResultKind::kSuccess || kind == InstallerResultKind::kRestartRequired ||
         kind == InstallerResultKind::kRestartStarted;
}

}  // namespace updater
