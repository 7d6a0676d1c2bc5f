// Why a payload's run ended before its per-product pass.
#pragma once

#include <cstdint>

namespace updater {

enum class PayloadFailure {
  kNone,               // it reached its products, or is not carried
  kOwnStep,            // a step of the updater failed (the copy, reading the patch): 300, error
  kNoTargetInstalled,  // none of its targets is installed here: 307
};

// The message that tells such a failure: 300, 307, or none (0).
uint32_t FailureMessage(PayloadFailure failure);

}  // namespace updater
