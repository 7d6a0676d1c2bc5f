// What applying a payload tells whoever keeps account of the run (the run log), step by step as
// it happens. Each call comes before the run goes on, so an account kept as the calls come is
// whole up to the step the run is in; in particular InstallerCallStarts comes before the call.
// The observer only looks: nothing it does changes the run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace updater {

struct PayloadKind;
struct PatchTargets;
struct ProductRun;
struct PayloadRun;
struct DetectedTarget;
struct ProductRegistration;
struct PayloadPlan;
struct PlanDifference;

class ApplyEvents {
 public:
  virtual ~ApplyEvents() = default;

  // An observer that takes no notice of anything.
  static ApplyEvents& None();

  // The payload's temporary copy is written and held at path.
  virtual void PayloadHeld(const PayloadKind& kind, const std::wstring& path) = 0;
  // The patch's targets as read from the copy.
  virtual void PatchRead(const PayloadKind& kind, const PatchTargets& targets) = 0;
  // One target code and whether it is installed here; for an installed one, the product as the
  // installer service describes it.
  virtual void TargetDetected(const DetectedTarget& target) = 0;
  // Elevated: a target code whose unmanaged per-user registration keeps it from being patched;
  // it then counts as not installed (TargetDetected follows).
  virtual void RegistrationRefused(const ProductRegistration&) {}
  // Elevated: the registrations could not be listed (the error), so no target counts.
  virtual void RegistrationsUnread(uint32_t) {}
  // Elevated, right before an installer call for productRun (the first or a retry): an unmanaged
  // per-user registration of its code has appeared since detection, or the registrations could
  // not be listed (the error). The call is not made; the product counts as not installed.
  virtual void RegistrationRefusedAtCall(const ProductRun&, const ProductRegistration&) {}
  virtual void RegistrationsUnreadAtCall(const ProductRun&, uint32_t) {}
  // No hold could be made on the installer log at path (the error; kErrorCantResolveFilename
  // when a link stood at every name): the installer call gets no log.
  virtual void InstallerLogRefused(const ProductRun&, const std::wstring& /*path*/,
                                   uint32_t /*error*/) {}
  // A payload's plan, made before anything is executed: the plan of a chain is told payload by
  // payload, each one whole.
  virtual void PayloadPlanned(const PayloadPlan&) {}
  // Before a payload's run: the machine, detected again, differs from its plan (planned) in the
  // differences; the run follows now, the plan made against the machine as it is.
  virtual void PlanDiffers(const PayloadPlan& /*planned*/, const PayloadPlan& /*now*/,
                           const std::vector<PlanDifference>& /*differences*/) {}
  // The decision for an installed target, with the versions it came from.
  virtual void ProductDecided(const ProductRun& productRun, const PatchTargets& targets) = 0;
  // The installer call for a product is about to begin: its log path is set.
  virtual void InstallerCallStarts(const ProductRun& productRun) = 0;
  // The installer call has returned: its result and duration are set.
  virtual void InstallerCallEnded(const ProductRun& productRun) = 0;
  // The payload's run is over, whichever way.
  virtual void PayloadEnded(const PayloadKind& kind, const PayloadRun& run) = 0;

  // Before the call for productRun another installation owns the installer: the wait begins, for at
  // most leftMilliseconds.
  virtual void InstallerBusy(const ProductRun& /*productRun*/, uint32_t /*leftMilliseconds*/) {}
  // That wait is over after waitedMilliseconds: the installer is free, or the bound is reached
  // and the call is not made (its result is 1618).
  virtual void InstallerWaitEnded(const ProductRun& /*productRun*/, uint32_t /*waitedMilliseconds*/,
                                  bool /*free*/) {}
  // The call gave 1618 and is made again, as call number attempt, after pauseMilliseconds.
  virtual void InstallerRetry(const ProductRun& /*productRun*/, uint32_t /*attempt*/,
                              uint32_t /*pauseMilliseconds*/) {}
};

// The events that ApplyEvents leaves pure, ignored: a listener derives from it and overrides only
// the events it takes in. None() is one that takes in nothing.
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
