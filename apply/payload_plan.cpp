#include "apply/payload_plan.h"

#include "apply/log_name.h"
#include "inspection/four_part_version.h"
#include "messages/catalogue.h"
#include "platform/decimal_text.h"

namespace updater {

uint32_t FailureMessage(PayloadFailure failure) {
  switch (failure) {
    case PayloadFailure::kOwnStep:
      return kMsgFailure;
    case PayloadFailure::kNoTargetInstalled:
      return kMsgNoProduct;
    case PayloadFailure::kNone:
      break;
  }
  return 0;
}

PayloadPlan PlanPayload(const PayloadKind& kind, const PatchTargets& targets,
                        const std::vector<DetectedTarget>& detected, const std::wstring& logFolder,
                        const std::wstring& messageName) {
  PayloadPlan plan;
  plan.logFolder = logFolder;
  plan.messageName = messageName;
  size_t upToDate = 0;
  bool anyPatch = false;
  for (const DetectedTarget& target : detected) {
    if (!target.installed) continue;
    ProductPlan product;
    product.product = target.product;
    product.decision = DecideWithReason(target.product.InstalledVersion(), targets.upgradeVersion,
                                        targets.targetVersions);
    product.locale = static_cast<uint32_t>(ReadDecimal(target.product.language));
    if (kind.namesProduct) plan.messageName = target.product.productName;
    product.messageName = plan.messageName;
    switch (product.decision.decision) {
      case Decision::kUpToDate:
        ++upToDate;
        break;
      case Decision::kPatch:
        anyPatch = true;
        if (!logFolder.empty()) {
          product.logPath = LogPathChoice(logFolder, target.product.productName, 1);
        }
        break;
      case Decision::kNotCovered:
        product.message = kMsgWrongVersion;
        break;
    }
    plan.products.push_back(std::move(product));
  }
  if (plan.products.empty()) {
    plan.failure = PayloadFailure::kNoTargetInstalled;
    return plan;
  }
  plan.everyUpToDate = upToDate == plan.products.size();
  plan.outcome = plan.everyUpToDate ? PayloadOutcome::Unnecessary
                 : anyPatch         ? PayloadOutcome::Applied
                                    : PayloadOutcome::Failed;
  return plan;
}

}  // namespace updater
