// Waiting for the Windows Installer while another installation runs. The installer service holds
// the mutex "Global\_MSIExecute" while an installation's execution sequence runs, and a call made
// meanwhile fails with 1618; so before each call the updater waits for the mutex to be free, and
// a call that still gives 1618 is tried again after growing pauses, all within one bound.
#pragma once

#include <cstdint>

#include "apply/apply_events.h"
#include "platform/system.h"

namespace updater {

inline constexpr wchar_t kInstallerMutex[] = L"Global\\_MSIExecute";
inline constexpr uint32_t kErrorInstallAlreadyRunning = 1618;

struct InstallerWaitPolicy {
  // The whole time one product's call may wait and be retried, from the first look at the mutex.
  uint32_t boundMilliseconds = 600000;
  uint32_t pollMilliseconds = 1000;           // between two looks at a mutex owned elsewhere
  uint32_t firstRetryMilliseconds = 2000;     // the pause before the first retry after 1618
  uint32_t longestRetryMilliseconds = 60000;  // each later pause doubles, up to this
};

struct ProductRun;

// Looks at the installer's mutex and, while another process owns it, looks again after a pause of
// the poll interval (the last one cut to the bound), until it is free or the bound counted from
// started (a tick count) is reached. A mutex that does not exist or cannot be opened counts as
// free: a call made then still has the retries. Gives true when the installer is free. events
// hears of a wait when it begins and when it ends, nothing when the mutex was free at once.
bool WaitForFreeInstaller(System& system, const InstallerWaitPolicy& policy, uint32_t started,
                          ApplyEvents& events, const ProductRun& productRun);

// The pause before the retry after one that paused previous ms (0 before the first retry):
// doubled, at most the longest, and never past the time the bound leaves (elapsed of it gone).
uint32_t NextRetryPause(const InstallerWaitPolicy& policy, uint32_t previous, uint32_t elapsed);

}  // namespace updater
