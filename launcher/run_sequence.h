// The default mode: the payloads planned as a chain, then run in their fixed order, then one
// closing message.
#pragma once

#include <vector>

#include "apply/apply_payload.h"
#include "messages/message_box.h"

namespace updater {

struct SequenceResult {
  bool completed = false;        // false only when the last run failed
  std::vector<PayloadRun> runs;  // the runs made, in order
};

// Whether a restart completes what the runs did: an installer call returned 3010 and none 1641
// (a restart already started needs no telling).
bool RestartCompletes(const std::vector<PayloadRun>& runs);

// Plans the chain of payloads first (PayloadApplier::PlanChain), then runs the payload kinds in
// their order from their plans, stopping after a run that failed (which has shown its
// own message). Then shows 301 when any run applied its patch (319 instead when a restart
// completes the runs), 306 when every run was unnecessary, nothing after a failure. Messages start
// in the language of start and go on in the language and with the product name each run leaves for
// the next. Every payload copy is deleted when it returns.
SequenceResult RunPayloadSequence(PayloadApplier& applier, MessageBoxes& messages,
                                  const MessageContext& start);

}  // namespace updater
