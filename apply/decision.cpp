#include "apply/decision.h"

namespace updater {

Decision DecideProduct(const FourPartVersion& installed, const FourPartVersion& upgrade,
                       const std::vector<FourPartVersion>& targets) {
  if (installed.Equals(upgrade)) return Decision::kUpToDate;
  for (const FourPartVersion& entry : targets) {
    if (installed.Equals(entry)) return Decision::kPatch;
    if (entry.Equals(upgrade)) return Decision::kUpToDate;
  }
  return Decision::kNotCovered;
}

}  // namespace updater
