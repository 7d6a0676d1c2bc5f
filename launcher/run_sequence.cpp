#include "launcher/run_sequence.h"

#include "messages/catalogue.h"
#include "payload/payload_kinds.h"

namespace updater {

SequenceResult RunPayloadSequence(PayloadApplier& applier, MessageBoxes& messages,
                                  const MessageContext& start) {
  SequenceResult result;
  MessageContext context = start;
  bool anyApplied = false;
  for (const PayloadKind& kind : kPayloadKinds) {
    result.runs.push_back(applier.ApplyPayload(kind, kMsgFailure, context));
    const PayloadRun& run = result.runs.back();
    context = run.messages;
    if (run.outcome == PayloadOutcome::Failed) return result;
    anyApplied = anyApplied || run.outcome == PayloadOutcome::Applied;
  }
  result.completed = true;
  messages.ShowMessage(anyApplied ? kMsgSuccess : kMsgUpToDate, context);
  return result;
}

}  // namespace updater
