#include "apply/installer_wait.h"

#include <algorithm>

namespace updater {

bool WaitForFreeInstaller(System& system, const InstallerWaitPolicy& policy, uint32_t started,
                          ApplyEvents& events, const ProductRun& productRun) {
  bool waiting = false;
  uint32_t waitStarted = 0;
  for (;;) {
    const Outcome<MutexState> state = system.ProbeMutex(kInstallerMutex);
    const uint32_t now = system.TickCount();
    if (!state || *state == MutexState::kFree) {
      if (waiting) events.InstallerWaitEnded(productRun, now - waitStarted, true);
      return true;
    }
    const uint32_t elapsed = now - started;
    if (!waiting) {
      waiting = true;
      waitStarted = now;
      events.InstallerBusy(
          productRun, elapsed < policy.boundMilliseconds ? policy.boundMilliseconds - elapsed : 0);
    }
    if (elapsed >= policy.boundMilliseconds) {
      events.InstallerWaitEnded(productRun, now - waitStarted, false);
      return false;
    }
    system.Pause(std::max<uint32_t>(
        1, std::min(policy.pollMilliseconds, policy.boundMilliseconds - elapsed)));
  }
}

uint32_t NextRetryPause(const InstallerWaitPolicy& policy, uint32_t previous, uint32_t elapsed) {
  uint32_t pause = previous == 0 ? policy.firstRetryMilliseconds
                   : previous > policy.longestRetryMilliseconds / 2
                       ? policy.longestRetryMilliseconds
                       : previous * 2;
  pause = std::min(pause, policy.longestRetryMilliseconds);
  const uint32_t left = elapsed < policy.boundMilliseconds ? policy.boundMilliseconds - elapsed : 0;
  return std::min(pause, left);
}

}  // namespace updater
