// The process exit code that "/exitcode" asks for: the outcome of the whole run in the Windows
// Installer's own terms, which deployment tools already read (0 success, 3010 and 1641 restart,
// 1618 retry later, anything else failure). Without the switch the process returns 0 as always.
#pragma once

#include <cstdint>
#include <vector>

#include "apply/apply_payload.h"

namespace updater {

inline constexpr uint32_t kExitSuccess = 0;
inline constexpr uint32_t kExitPlanWouldPatch = 1;      // "/plan": a run would patch a product
inline constexpr uint32_t kExitBadCommandLine = 1639;   // ERROR_INVALID_COMMAND_LINE
inline constexpr uint32_t kExitInstallFailure = 1603;   // ERROR_INSTALL_FAILURE
inline constexpr uint32_t kExitAnotherInstall = 1618;   // ERROR_INSTALL_ALREADY_RUNNING
inline constexpr uint32_t kExitRestartStarted = 1641;   // ERROR_SUCCESS_REBOOT_INITIATED
inline constexpr uint32_t kExitNotApplicable = 1642;    // ERROR_PATCH_TARGET_NOT_FOUND
inline constexpr uint32_t kExitRestartRequired = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED

// What a run met that bears on its exit code, gathered while it goes.
struct RunFindings {
  std::vector<uint32_t> installerResults;  // the result of every installer call, in order
  bool targetNotCovered = false;           // an installed target's version is not covered (308)
  bool noTargetInstalled = false;          // a payload found none of its targets installed (307)
  bool ownStepFailed = false;  // a step of the updater itself failed (300 with a Windows code)
  bool extractFailed = false;  // "/e" could not write a payload the executable carries
};

// How bad a code is, so that the worst one of a run wins:
//   0     success, every installed target at the update's level;
//   1     3010, a restart is still needed to finish;
//   2     1641, a restart has been started: it outranks 3010 so that no tool restarts twice;
//   3     1642, a target is installed but not brought to the update's level (not covered, or no
//         target installed at all): nothing failed, but a restart cannot help either;
//   4     1618, another installation was running: the one failure that a later retry cures;
//   5     any other code, a failure that needs a person.
// A failure outranks 1642 because the machine may be left half patched, which a tool that reads
// "not applicable" would never look at.
int ExitCodeRank(uint32_t code);

// The worse of two codes; the earlier one (a) when both rank alike.
uint32_t WorseExitCode(uint32_t a, uint32_t b);

// The outcome of a run as one code, the worst of its findings winning: each installer result
// stands for itself; a version not covered and no target installed give 1642; a failed step of
// the updater itself and an extraction that could not write a carried payload give 1603. A run
// with no findings (every target already at the level, "/i", "/pi") gives 0.
uint32_t OutcomeExitCode(const RunFindings& findings);

// The findings of the payload runs of the default mode: every installer result, every product
// whose version is not covered, and a run that ended before its products, with 307 (no target
// installed) or with 300 (a step of the updater failed).
RunFindings FindingsOf(const std::vector<PayloadRun>& runs);

// The code of "/plan", from the runs it made without calling the installer, the first that
// applies: 1603 when a payload cannot be held or read (300), 1642 when a payload would end with
// 307 or 308, 1 when a run would patch at least one product, else 0 (nothing left to do).
uint32_t PlanExitCode(const std::vector<PayloadRun>& runs);

// What the process returns: the outcome's code when "/exitcode" asked for it, else 0.
inline uint32_t ProcessExitCode(uint32_t outcomeCode, bool requested) {
  return requested ? outcomeCode : kExitSuccess;
}

}  // namespace updater
