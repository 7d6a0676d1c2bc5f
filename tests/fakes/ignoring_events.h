// Apply events that a test's recorder does not look at: every event that ApplyEvents leaves pure
// is ignored here, so a recorder overrides only the ones it records.
#pragma once

#include <string>

#include "apply/apply_payload.h"

namespace updater {

class IgnoringEvents : public ApplyEvents {
 public:
  void PayloadHeld(const PayloadKind&, const std::wstring&) override {}
  void PatchRead(const PayloadKind&, const PatchTargets&) override {}
  void TargetDetected(const DetectedTarget&) override {}
  void ProductDecided(const ProductRun&, const PatchTargets&) override {}
  void InstallerCallStarts(const ProductRun&) override {}
  void InstallerCallEnded(const ProductRun&) override {}
  void PayloadEnded(const PayloadKind&, const PayloadRun&) override {}
};

}  // namespace updater
