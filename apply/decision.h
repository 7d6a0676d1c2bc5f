// What to do with one installed target of a patch, decided from versions alone.
#pragma once

#include <vector>

#include "inspection/four_part_version.h"

namespace updater {

enum class Decision {
  kUpToDate,    // at the upgrade version, or past the versions the patch fixes
  kPatch,       // at one of the target versions
  kNotCovered,  // at a version the patch knows nothing of (message 308)
};

// Why a decision was made, in the terms the run log states it in.
enum class DecisionReason {
  kAtUpgradeVersion,    // kUpToDate: installed at the upgrade version
  kUpgradeListedFirst,  // kUpToDate: the target versions list the upgrade version before it
  kAtTargetVersion,     // kPatch: installed at one of the target versions
  kUnknownVersion,      // kNotCovered: neither the upgrade version nor a target version
};

struct ReasonedDecision {
  Decision decision = Decision::kNotCovered;
  DecisionReason reason = DecisionReason::kUnknownVersion;
};

// A product at the upgrade version is up to date. Otherwise the target versions are walked in
// their order: meeting the installed version means patching it; meeting the upgrade version first
// means the product is already past the versions the patch fixes, so it counts as up to date.
// Versions are compared for equality only; nothing is ordered.
ReasonedDecision DecideWithReason(const FourPartVersion& installed, const FourPartVersion& upgrade,
                                  const std::vector<FourPartVersion>& targets);
inline Decision DecideProduct(const FourPartVersion& installed, const FourPartVersion& upgrade,
                              const std::vector<FourPartVersion>& targets) {
  return DecideWithReason(installed, upgrade, targets).decision;
}

}  // namespace updater
