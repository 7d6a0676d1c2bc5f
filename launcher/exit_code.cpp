#include "launcher/exit_code.h"

#include "apply/installer_result.h"

namespace updater {

int ExitCodeRank(uint32_t code) {
  if (code == kExitNotApplicable) return 3;
  switch (ClassifyInstallerResult(code)) {
    case InstallerResultKind::kSuccess:
      return 0;
    case InstallerResultKind::kRestartRequired:
      return 1;
    case InstallerResultKind::kRestartStarted:
      return 2;
    case InstallerResultKind::kAnotherInstall:
      return 4;
    case InstallerResultKind::kFailed:
      break;
  }
  return 5;
}

uint32_t WorseExitCode(uint32_t a, uint32_t b) { return ExitCodeRank(b) > ExitCodeRank(a) ? b : a; }

uint32_t OutcomeExitCode(const RunFindings& findings) {
  uint32_t code = kExitSuccess;
  for (const uint32_t result : findings.installerResults) code = WorseExitCode(code, result);
  if (findings.targetNotCovered || findings.noTargetInstalled) {
    code = WorseExitCode(code, kExitNotApplicable);
  }
  if (findings.ownStepFailed || findings.extractFailed) {
    code = WorseExitCode(code, kExitInstallFailure);
  }
  return code;
}

RunFindings FindingsOf(const std::vector<PayloadRun>& runs) {
  RunFindings findings;
  for (const PayloadRun& run : runs) {
    for (const ProductRun& productRun : run.products) {
      if (productRun.installerResult)
        findings.installerResults.push_back(*productRun.installerResult);
      if (productRun.plan.decision.decision == Decision::kNotCovered) {
        findings.targetNotCovered = true;
      }
    }
    if (run.failure == PayloadFailure::kNoTargetInstalled) findings.noTargetInstalled = true;
    if (run.failure == PayloadFailure::kOwnStep) findings.ownStepFailed = true;
  }
  return findings;
}

uint32_t PlanExitCode(const std::vector<PayloadRun>& runs) {
  bool refused = false;
  bool wouldPatch = false;
  for (const PayloadRun& run : runs) {
    if (run.failure == PayloadFailure::kOwnStep) return kExitInstallFailure;
    if (run.failure == PayloadFailure::kNoTargetInstalled) refused = true;
    for (const ProductRun& productRun : run.products) {
      const Decision decision = productRun.plan.decision.decision;
      if (decision == Decision::kNotCovered) refused = true;
      if (decision == Decision::kPatch) wouldPatch = true;
    }
  }
  return refused ? kExitNotApplicable : wouldPatch ? kExitPlanWouldPatch : kExitSuccess;
}

}  // namespace updater
