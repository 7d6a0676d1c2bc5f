// Applying one embedded patch to every installed product that it targets and accepts, in phases:
// hold a copy of the payload and read the patch's targets, detect each target code, plan
// (apply/payload_plan.h), then execute the plan: patch what it says, recording each result.
#pragma once

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

// One product's run: its plan as executed, and what the installer did.
struct ProductRun {
  TargetProductRecord product;
  uint32_t language = 0;  // the locale its messages and text 315 came in
  Decision decision = Decision::kNotCovered;
  DecisionReason reason = DecisionReason::kUnknownVersion;
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

// The outcome of a payload from its plan and the products' runs: as planned, except that one
// planned as applied whose installer calls all failed is failed. A product to patch without an
// installer result ("/plan") counts as patched.
PayloadOutcome OutcomeOf(const PayloadPlan& plan, const std::vector<ProductRun>& products);

// The same from the products' runs alone, for a run whose products were not all run as planned
// (some held back at their call): every one up to date is unnecessary, one patched (or to patch
// under "/plan") is applied, anything else failed.
PayloadOutcome OutcomeOf(const std::vector<ProductRun>& products);
// Whether there are products and every one is up to date.
bool EveryUpToDate(const std::vector<ProductRun>& products);

// How the runs go, beyond the payloads themselves.
struct ApplyOptions {
  bool suppressRestart = false;  // "/norestart": REBOOT=ReallySuppress on every call
  bool planOnly = false;         // "/plan": decide every product, call the installer for none
  InstallerWaitPolicy wait;      // waiting for another installation, and retrying 1618
  // Where the payloads' copies go (the run's private folder; its error when there is none), and
  // the installer logs' folder (RunPlaces::installerLogFolder; empty: no logs).
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

  // Holds a temporary copy of the payload, reads its targets and versions, detects the targets
  // and patches each installed one whose version is one of the target versions, with a verbose
  // log per product in the installer logs' folder. Products at the upgrade version count as up
  // to date; other versions are shown as 308. Failures are shown as 300 with their error code,
  // and the pass goes on with the next product. Messages come in the language of the product in
  // turn and name the product name of messages (replaced per product for a kind that names its
  // products). The copy is deleted on every way out. Each installer call waits while another
  // installation runs and is retried after 1618 (options' wait policy); under planOnly no call is
  // made.
  PayloadRun ApplyPayload(const PayloadKind& kind, const MessageContext& messages);

 private:
  // One entry per target code; elevated, only installations that needed administrators count,
  // and the registrations refused are told.
  std::vector<DetectedTarget> Detect(const std::vector<std::wstring>& codes);
  // Ends run before its products: tells it, and shows its message.
  void Fail(const PayloadKind& kind, PayloadRun& run, PayloadFailure failure, uint32_t error);
  // Walks the plan's products in order: enters each one's locale, shows the message its decision
  // shows, patches the ones to patch and shows a failed call as 300.
  void Execute(const PayloadPlan& plan, const PatchTargets& targets,
               const std::wstring& payloadPath, PayloadRun& run);
  // Waits for a free installer, makes and holds the log, and calls the installer for one product.
  // False when the product was held back right before a call (RegistrationsAllowCall): it then
  // counts as not installed.
  bool PatchProduct(ProductRun& productRun, const ProductPlan& step,
                    const std::wstring& payloadPath, const std::wstring& logFolder);
  // Makes the product's log at the plan's path, or the next choice where a link stands there,
  // with the sharing the installer service needs, and sets productRun's log path to it. That
  // handle is the hold, kept until the installer is done. Where none can be made the path stays
  // empty (no log for the installer) and the refusal is told.
  std::unique_ptr<WritableFile> HoldLog(ProductRun& productRun, const ProductPlan& step,
                                        const std::wstring& logFolder);
  // Elevated: the registrations looked at again (CheckRegistrationsBeforeCall), what holds the
  // product back told; true when the call may be made.
  bool RegistrationsAllowCall(const ProductRun& productRun);
  // The call, told before and after, and made again after 1618 while the bound counted from
  // started leaves time; each call only after RegistrationsAllowCall. False when held back.
  bool CallInstaller(ProductRun& productRun, const std::wstring& commandLine, uint32_t started);

  System& system_;
  Installer& installer_;
  PayloadStore& store_;
  MessageBoxes& messages_;
  ApplyEvents& events_;
  ApplyOptions options_;
};

// Sets the thread locale to a product's language and gives the locale now in force, which the
// product's messages are shown in. A language that names no locale the platform knows gives the
// user's default instead. The installer service runs on this thread and is left the product's
// locale, as it always was.
uint32_t EnterProductLocale(System& system, uint32_t locale);

// The thread locale back to the user's default; gives the locale now in force.
uint32_t EnterUserLocale(System& system);

// The installer's property command line for a patch, with REBOOT=ReallySuppress at its end when
// suppressRestart. Nothing is cut: with a payload path of at most 259 characters and the longest
// text 315 of any language it stays far below the 1024 characters the installer's command line
// has room for.
std::wstring BuildPatchCommandLine(const std::wstring& payloadPath, const std::wstring& filesInUse,
                                   bool suppressRestart = false);

}  // namespace updater
