// Applying the embedded patches to every installed product that they target and accept, in
// phases: for every payload, hold a copy and read the patch's targets, detect each target code and
// plan (apply/payload_plan.h) against what the payloads before it would leave; then payload by
// payload detect again, plan against the machine as it is, and execute: patch what the plan says,
// recording each result.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "apply/apply_events.h"
#include "apply/decision.h"
#include "apply/installer_wait.h"
#include "apply/payload_failure.h"
#include "apply/payload_plan.h"
#include "inspection/target_product.h"
#include "messages/message_box.h"
#include "payload/payload_kinds.h"
#include "payload/payload_store.h"
#include "platform/installer.h"
#include "platform/system.h"

namespace updater {

// One product's run: its plan, and what the installer did with it.
struct ProductRun {
  ProductPlan plan;
  std::wstring logPath;                     // kPatch: the log enabled, empty for none
  std::optional<uint32_t> installerResult;  // kPatch: what the installer service returned
  uint32_t installerMilliseconds = 0;       // kPatch: how long the installer call took
};

// The result of one payload's run.
struct PayloadRun {
  PayloadOutcome outcome = PayloadOutcome::Unnecessary;
  bool carried = true;  // false: the executable has no such payload and nothing was done
  PayloadFailure failure = PayloadFailure::kNone;  // why it ended before its products
  uint32_t error = 0;                              // kOwnStep: the error code shown with 300
  std::vector<ProductRun> products;  // the installed targets, in the order of the codes
  // The language and product name that the messages after this run use: the last product's
  // language (the user's default when every product was up to date), and with the global payload
  // the last product's name; both as they came in when the run ended before its products.
  MessageContext messages;
};

// The outcome of a payload from its products' runs: every one up to date is unnecessary, one
// patched (or to patch without an installer result, under "/plan") is applied, anything else
// failed. Run as planned, that is the plan's outcome; it also holds when some products were held
// back at their call and dropped out.
PayloadOutcome OutcomeOf(const std::vector<ProductRun>& products);
// Whether there are products and every one is up to date.
bool EveryUpToDate(const std::vector<ProductRun>& products);

// How the runs go, beyond the payloads themselves.
struct ApplyOptions {
  bool suppressRestart = false;  // "/norestart": REBOOT=ReallySuppress on every call
  bool planOnly = false;         // "/plan": decide every product, call the installer for none
  InstallerWaitPolicy wait;      // waiting for another installation, and retrying 1618
  // Where the payloads' copies go (the run's private folder; its error when there is none), and
  // the installer logs' folder (RunPlaces::installerLogFolder; empty: no logs), which only the
  // plans read.
  FolderChoice copyFolder{{}, kErrorPathNotFound};
  std::wstring logFolder;
};

class PayloadApplier {
 public:
  // events is told of every step as it happens (the run log); it changes nothing of the run.
  PayloadApplier(System& system, Installer& installer, PayloadStore& store, MessageBoxes& messages,
                 ApplyEvents& events = ApplyEvents::None())
      : system_(system),
        installer_(installer),
        store_(store),
        messages_(messages),
        events_(events) {}

  void SetOptions(const ApplyOptions& options) { options_ = options; }

  // Plans the chain before anything is executed: for each payload kind in order, holds a copy of
  // the payload (kept until its run is over), reads its targets, detects them and plans it against
  // what the payloads planned before it would leave, the product name of messages going on from
  // start's. Stops after the first payload whose plan fails, where a run would stop. Each plan is
  // told as it is made.
  ChainPlan PlanChain(const MessageContext& start);

  // Runs one payload of the chain from its plan (nullptr: the chain's plan stopped before it, and
  // it is held and read now). Under planOnly the plan is executed as it stands; otherwise its
  // targets are detected again and it is planned anew against the machine as it is now, which
  // wins over the prediction, the differences told. Then each product is executed: its locale
  // entered, the message its decision shows shown, the ones to patch patched (no call under
  // planOnly) with their log, a failed call shown as 300; failures before the products as 300 or
  // 307. Each product's messages come in its language; the product name they insert is the one
  // messages brings, replaced by each product's own with a kind that names its products. Each
  // installer call waits while another installation runs and is retried after 1618 (options' wait
  // policy). The payload's copy is deleted when the run returns.
  PayloadRun RunPayload(const PayloadKind& kind, const PayloadPlan* planned,
                        const MessageContext& messages);

  // Deletes the copies still held: those of payloads planned whose run never came.
  void ReleaseCopies();

  // One payload alone: planned, then run.
  PayloadRun ApplyPayload(const PayloadKind& kind, const MessageContext& messages);

 private:
  // Holds a copy of the payload and reads its targets: a plan without products yet, or one that
  // ends there (not carried, or failed with the error).
  PayloadPlan ReadPayload(const PayloadKind& kind);
  // Detects read's targets and plans its products; the plans before it would leave left.
  PayloadPlan PlanProducts(const PayloadPlan& read, const std::wstring& messageName,
                           const std::vector<LeftVersion>& left);
  // One entry per target code; elevated, only installations that needed administrators count,
  // and the registrations refused are told.
  std::vector<DetectedTarget> Detect(const std::vector<std::wstring>& codes);
  // Ends run before its products: tells it, and shows its message.
  void Fail(const PayloadKind& kind, PayloadRun& run, PayloadFailure failure, uint32_t error);
  // Performs the plan's products in order, recording each one's results in run.
  void Execute(const PayloadPlan& plan, PayloadRun& run);
  // Waits for a free installer, makes and holds the log, and calls the installer for one product
  // as its plan says. False when the product was held back right before a call
  // (RegistrationsAllowCall): it then counts as not installed.
  bool PatchProduct(ProductRun& productRun);
  // Makes the product's log at the first of the plan's choices that takes it, where a link stands
  // at one the next, with the sharing the installer service needs, and sets productRun's log path
  // to it. That handle is the hold, kept until the installer is done. Where none can be made the
  // path stays empty (no log for the installer) and the refusal is told.
  std::unique_ptr<WritableFile> HoldLog(ProductRun& productRun);
  // Elevated: the registrations looked at again (CheckRegistrationsBeforeCall), what holds the
  // product back told; true when the call may be made.
  bool RegistrationsAllowCall(const ProductRun& productRun);
  // The call, told before and after, and made again after 1618 while the bound counted from
  // started leaves time; each call only after RegistrationsAllowCall. False when held back.
  bool CallInstaller(ProductRun& productRun, const std::wstring& commandLine, uint32_t started);
  // The held copy of kind's payload, deleted by Release.
  std::optional<PayloadCopy>& HeldCopy(const PayloadKind& kind);

  System& system_;
  Installer& installer_;
  PayloadStore& store_;
  MessageBoxes& messages_;
  ApplyEvents& events_;
  ApplyOptions options_;
  std::array<std::optional<PayloadCopy>, kPayloadKinds.size()> copies_;
};

}  // namespace updater
