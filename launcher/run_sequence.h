// The default mode: the payloads in their fixed order, then one closing message.
#pragma once

#include "apply/apply_payload.h"
#include "messages/message_box.h"

namespace updater {

// Applies the global, language-pack and product-specific payloads in this order, stopping after a
// run that failed (which has shown its own message). Then shows 301 when any run applied its
// patch or the last one did, 306 when every run was unnecessary, nothing after a failure. False
// only when the last run failed.
bool RunPayloadSequence(PayloadApplier& applier, MessageBoxes& messages);

}  // namespace updater
