// What an installer call's result means for the run: the one place that reads the Windows
// Installer's codes 0, 3010, 1641 and 1618; every other code is a failure of its own.
#pragma once

#include <cstdint>

namespace updater {

enum class InstallerResultKind {
  kSuccess,          // 0: patched
  kRestartRequired,  // 3010: patched, a restart completes it
  kRestartStarted,   // 1641: patched, the installer started a restart
  kAnotherInstall,   // 1618: another installation was running; a later retry cures it
  kFailed,           // anything else: not patched
};

InstallerResultKind ClassifyInstallerResult(uint32_t result);

// Patched, whether or not a restart belongs to it.
bool IsPatched(InstallerResultKind kind);
inline bool IsPatched(uint32_t result) { return IsPatched(ClassifyInstallerResult(result)); }

}  // namespace updater
