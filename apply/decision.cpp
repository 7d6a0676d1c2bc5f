#include "apply/decision.h"

namespace updater {

ReasonedDecision DecideWithReason(const FourPartVersion& installed, const FourPartVersion& upgrade,
                                  const std::vector<FourPartVersion>& targets) {
  if (installed.Equals(upgrade)) return {Decision::kUpToDate, DecisionReason::kAtUpgradeVersion};
  for (const FourPartVersion& entry : targets) {
    if (installed.Equals(entry)) return {Decision::kPatch, DecisionReason::kAtTargetVersion};
    if (entry.Equals(upgrade)) return {Decision::kUpToDate, DecisionReason::kUpgradeListedFirst};
  }
  return {Decision::kNotCovered, DecisionReason::kUnknownVersion};
}

}  // namespace updater
