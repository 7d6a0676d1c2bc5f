#include "launcher/run_sequence.h"

#include "apply/installer_result.h"
#include "messages/catalogue.h"
#include "payload/payload_kinds.h"

namespace updater {

bool RestartCompletes(const std::vector<PayloadRun>& runs) {
  bool asked = false;
  for (const PayloadRun& run : runs) {
    for (const ProductRun& productRun : run.products) {
      if (!productRun.installerResult) continue;
      const InstallerResultKind kind = ClassifyInstallerResult(*productRun.installerResult);
      if (kind == InstallerResultKind::kRestartStarted) return false;
      if (kind == InstallerResultKind::kRestartRequired) asked = true;
    }
  }
  return asked;
}

SequenceResult RunPayloadSequence(PayloadApplier& applier, MessageBoxes& messages,
                                  const MessageContext& start) {
  SequenceResult result;
  MessageContext context = start;
  bool anyApplied = false;
  const ChainPlan chain = applier.PlanChain(start);
  for (size_t i = 0; i < kPayloadKinds.size(); ++i) {
    const PayloadPlan* planned = i < chain.payloads.size() ? &chain.payloads[i] : nullptr;
    result.runs.push_back(applier.RunPayload(kPayloadKinds[i], planned, context));
    const PayloadRun& run = result.runs.back();
    context = run.messages;
    if (run.outcome == PayloadOutcome::Failed) {
      applier.ReleaseCopies();
      return result;
    }
    anyApplied = anyApplied || run.outcome == PayloadOutcome::Applied;
  }
  result.completed = true;
  const uint32_t closing = !anyApplied                     ? kMsgUpToDate
                           : RestartCompletes(result.runs) ? kMsgRestartNeeded
                                                           : kMsgSuccess;
  messages.ShowMessage(closing, context);
  return result;
}

}  // namespace updater
