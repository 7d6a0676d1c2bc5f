// What a payload's run would do, worked out from what was detected before anything is done: per
// installed target the decision with its reason, the locale its messages ask for, the name they
// insert, the installer log's place and the message it shows; per payload the outcome when nothing
// is executed. A pure function of its inputs, so that it can be checked as data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apply/decision.h"
#include "apply/payload_failure.h"
#include "inspection/summary.h"
#include "inspection/target_product.h"
#include "payload/payload_kinds.h"

namespace updater {

enum class PayloadOutcome {
  Failed = 1,       // nothing patched and the reason was shown
  Applied = 2,      // at least one product patched
  Unnecessary = 3,  // every target up to date, or the payload is not carried at all
};

struct ProductPlan {
  TargetProductRecord product;
  ReasonedDecision decision;
  uint32_t locale = 0;       // the product's language read as a locale id, entered for it
  std::wstring messageName;  // the product name its messages insert
  std::wstring logPath;      // kPatch: the installer log's first choice; empty for none
  uint32_t message = 0;      // the box its decision shows by itself: 308 when not covered, else 0
};

struct PayloadPlan {
  std::vector<ProductPlan> products;  // the installed targets, in the order of the codes
  PayloadFailure failure = PayloadFailure::kNone;  // kNoTargetInstalled when none is installed
  bool everyUpToDate = false;  // the closing message then comes in the user's default language
  PayloadOutcome outcome = PayloadOutcome::Failed;  // when nothing is executed ("/plan")
  std::wstring logFolder;                           // where the installer logs go; empty for none
  std::wstring messageName;  // the product name the messages after the payload insert
};

// Plans one payload of kind from the patch's targets and one detected entry per target code.
// A kind that names its products inserts each product's name from that product on; another keeps
// messageName, the name the run came in with.
PayloadPlan PlanPayload(const PayloadKind& kind, const PatchTargets& targets,
                        const std::vector<DetectedTarget>& detected, const std::wstring& logFolder,
                        const std::wstring& messageName);

}  // namespace updater
