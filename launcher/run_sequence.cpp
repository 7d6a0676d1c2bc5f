#include "launcher/run_sequence.h"

#include "messages/catalogue.h"

namespace updater {

bool RunPayloadSequence(PayloadApplier& applier, MessageBoxes& messages) {
  struct Run {
    const wchar_t* resourceName;
    bool isGlobal;
  };
  constexpr Run kRuns[] = {
      {kPayloadGlobal, true}, {kPayloadLanguagePack, false}, {kPayloadProductSpecific, false}};

  PayloadOutcome last = PayloadOutcome::Unnecessary;
  int appliedCount = 0;
  for (const Run& run : kRuns) {
    last = applier.ApplyPayload(run.resourceName, kMsgFailure, run.isGlobal);
    if (last == PayloadOutcome::Failed) return false;
    if (last == PayloadOutcome::Applied) ++appliedCount;
  }
  messages.ShowMessage(last == PayloadOutcome::Applied || appliedCount > 0 ? kMsgSuccess
                                                                           : kMsgUpToDate);
  return true;
}

}  // namespace updater
