// The run log's entries: what the updater found, decided and did, in words an administrator
// reads, one entry per step as the step happens.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "apply/apply_events.h"
#include "apply/apply_payload.h"
#include "diagnostics/run_log.h"
#include "inspection/summary.h"
#include "messages/message_box.h"
#include "payload/payload_kinds.h"
#include "payload/payload_store.h"
#include "platform/system.h"

namespace updater {

// The arguments as one command line, each that holds a blank or is empty in double quotes.
std::wstring JoinArguments(const std::vector<std::wstring>& arguments);

// What an installer result means, in a few words: "success", "restart required" ...
std::wstring DescribeInstallerResult(uint32_t result);

// The decision for a product and the reason for it, with the versions it was made from.
std::wstring DescribeDecision(DecisionReason reason, const FourPartVersion& installed,
                              const PatchTargets& targets);

class RunLogWriter final : public ApplyEvents, public MessageObserver {
 public:
  RunLogWriter(System& system, RunLog& log) : system_(system), log_(log) {}

  // The run's header: the update file with its size, the command line, the operating system,
  // whether the process is elevated, and the log folder, where the run log goes by default.
  void Header(const std::vector<std::wstring>& arguments, const std::wstring& osLine, bool elevated,
              const std::wstring& logFolder);

  // "/e": one payload written to target, or not.
  void Extracted(const PayloadKind& kind, const std::wstring& target, const WriteResult& result);
  // "/i": the report as it is about to be shown.
  void ReportShown(const std::wstring& text);
  // The last entry: how the run ended and the code "/exitcode" gives; why it is returned.
  void Ended(const std::wstring& outcome, uint32_t exitCode, bool requested,
             const wchar_t* requestedBy = L"/exitcode given");
  // An entry of its own.
  void Note(const std::wstring& text) { log_.Write(text); }
  // What keeps boxes from being shown ("/q" unless told otherwise), and whether the run is a
  // "/plan", whose products to patch are marked as not patched.
  void SetSilence(const std::wstring& reason) { silence_ = reason; }
  void SetPlan(bool plan) { plan_ = plan; }

  void PayloadHeld(const PayloadKind& kind, const std::wstring& path) override;
  void PatchRead(const PayloadKind& kind, const PatchTargets& targets) override;
  void TargetDetected(const DetectedTarget& target) override;
  void RegistrationRefused(const ProductRegistration& registration) override;
  void RegistrationsUnread(uint32_t error) override;
  void RegistrationRefusedAtCall(const ProductRun& productRun,
                                 const ProductRegistration& registration) override;
  void RegistrationsUnreadAtCall(const ProductRun& productRun, uint32_t error) override;
  void InstallerLogRefused(const ProductRun& productRun, const std::wstring& path,
                           uint32_t error) override;
  // The plan dump: per product its decision, locale, messages and planned installer call, then
  // the payload's outcome as planned.
  void PayloadPlanned(const PayloadPlan& plan) override;
  void PlanDiffers(const PayloadPlan& planned, const PayloadPlan& now,
                   const std::vector<PlanDifference>& differences) override;
  void ProductDecided(const ProductRun& productRun, const PatchTargets& targets) override;
  void InstallerCallStarts(const ProductRun& productRun) override;
  void InstallerCallEnded(const ProductRun& productRun) override;
  void PayloadEnded(const PayloadKind& kind, const PayloadRun& run) override;

  void InstallerBusy(const ProductRun& productRun, uint32_t leftMilliseconds) override;
  void InstallerWaitEnded(const ProductRun& productRun, uint32_t waitedMilliseconds,
                          bool free) override;
  void InstallerRetry(const ProductRun& productRun, uint32_t attempt,
                      uint32_t pauseMilliseconds) override;

  void MessageComposed(uint32_t id, const std::wstring& caption, const std::wstring& text,
                       bool shown) override;

 private:
  System& system_;
  RunLog& log_;
  std::wstring silence_ = L"/q";
  bool plan_ = false;
};

}  // namespace updater
