#include "launcher/exit_code.h"

#include "messages/catalogue.h"

namespace updater {

int ExitCodeRank(uint32_t code) {
  switch (code) {
    case kExitSuccess:
      return 0;
    case kExitRestartRequired:
      return 1;
    case kExitRestartStarted:
      return 2;
    case kExitNotApplicable:
      return 3;
    case kExitAnotherInstall:
      return 4;
    default:
      return 5;
  }
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
    for (const ProductRun& turn : run.products) {
      if (turn.installerResult) findings.installerResults.push_back(*turn.installerResult);
      if (turn.decision == Decision::kNotCovered) findings.targetNotCovered = true;
    }
    if (run.failureMessageId == kMsgNoProduct) findings.noTargetInstalled = true;
    if (run.failureMessageId == kMsgFailure) findings.ownStepFailed = true;
  }
  return findings;
}

uint32_t PlanExitCode(const std::vector<PayloadRun>& runs) {
  bool refused = false;
  bool wouldPatch = false;
  for (const PayloadRun& run : runs) {
    if (run.failureMessageId == kMsgFailure) return kExitInstallFailure;
    if (run.failureMessageId == kMsgNoProduct) refused = true;
    for (const ProductRun& turn : run.products) {
      if (turn.decision == Decision::kNotCovered) refused = true;
      if (turn.decision == Decision::kPatch) wouldPatch = true;
    }
  }
  return refused ? kExitNotApplicable : wouldPatch ? kExitPlanWouldPatch : kExitSuccess;
}

}  // namespace updater
