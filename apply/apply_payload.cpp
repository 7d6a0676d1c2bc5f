#include "apply/apply_payload.h"

#include <string_view>

#include "apply/installer_result.h"
#include "apply/registration_check.h"
#include "inspection/four_part_version.h"
#include "inspection/summary.h"
#include "messages/catalogue.h"
#include "platform/decimal_text.h"
#include "platform/path_limits.h"
#include "platform/regular_file.h"

namespace updater {
namespace {

class NoEvents final : public IgnoringEvents {};

}  // namespace

ApplyEvents& ApplyEvents::None() {
  static NoEvents none;
  return none;
}

namespace {

bool AnyPatched(const std::vector<ProductRun>& products) {
  for (const ProductRun& productRun : products) {
    if (productRun.plan.decision.decision == Decision::kPatch &&
        (!productRun.installerResult || IsPatched(*productRun.installerResult))) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool EveryUpToDate(const std::vector<ProductRun>& products) {
  for (const ProductRun& productRun : products) {
    if (productRun.plan.decision.decision != Decision::kUpToDate) return false;
  }
  return !products.empty();
}

PayloadOutcome OutcomeOf(const std::vector<ProductRun>& products) {
  if (EveryUpToDate(products)) return PayloadOutcome::Unnecessary;
  return AnyPatched(products) ? PayloadOutcome::Applied : PayloadOutcome::Failed;
}

std::unique_ptr<WritableFile> PayloadApplier::HoldLog(ProductRun& productRun) {
  // The log is made here first, safely: never through a link or junction and never over anything
  // but a regular file of its name. The handle that makes it shares reading and writing, which
  // the installer service needs to write its log, and never deleting; it is the very handle held
  // until the installer call returns, so nobody can delete or rename the log and put a link in
  // its place before the installer service writes into it. A link standing at a choice is left
  // alone, and the log takes the next one (the name with " (2)" or " (3)" after the product name).
  // Where no hold can be made (a handle open elsewhere that does not admit one), the installer
  // gets no log path at all rather than a name nobody holds.
  productRun.logPath.clear();
  std::wstring refusedPath;
  uint32_t refusal = 0;
  for (const std::wstring& logPath : productRun.plan.call.logChoices) {
    Outcome<std::unique_ptr<WritableFile>> created =
        CreateRegularFileForWriting(system_, logPath, FileSharing::kReadingAndWriting);
    if (created) {
      productRun.logPath = logPath;
      return std::move(*created);
    }
    refusedPath = logPath;
    refusal = created.error();
    if (refusal != kErrorCantResolveFilename) break;
  }
  if (!refusedPath.empty()) events_.InstallerLogRefused(productRun, refusedPath, refusal);
  return nullptr;
}

bool PayloadApplier::RegistrationsAllowCall(const ProductRun& productRun) {
  if (!system_.IsElevated()) return true;
  const CallRegistrations found =
      CheckRegistrationsBeforeCall(installer_, productRun.plan.product.productCode);
  if (found.refused) events_.RegistrationRefusedAtCall(productRun, *found.refused);
  if (found.error != 0) events_.RegistrationsUnreadAtCall(productRun, found.error);
  return !found.HoldsBack();
}

bool PayloadApplier::CallInstaller(ProductRun& productRun, const std::wstring& commandLine,
                                   uint32_t started) {
  for (uint32_t attempt = 1, pause = 0;; ++attempt) {
    // Right before each call: a per-user registration made since detection holds it back.
    if (!RegistrationsAllowCall(productRun)) return false;
    // Told before the call, so that a run killed inside the call leaves an account ending with it.
    events_.InstallerCallStarts(productRun);
    const uint32_t called = system_.TickCount();
    productRun.installerResult =
        installer_.ConfigureProductEx(productRun.plan.product.productCode, kInstallLevelDefault,
                                      kInstallStateDefault, commandLine);
    productRun.installerMilliseconds = system_.TickCount() - called;
    events_.InstallerCallEnded(productRun);
    if (ClassifyInstallerResult(*productRun.installerResult) !=
        InstallerResultKind::kAnotherInstall) {
      return true;
    }
    pause = NextRetryPause(options_.wait, pause, system_.TickCount() - started);
    if (pause == 0) return true;
    events_.InstallerRetry(productRun, attempt + 1, pause);
    system_.Pause(pause);
    if (!WaitForFreeInstaller(system_, options_.wait, started, events_, productRun)) return true;
  }
}

bool PayloadApplier::PatchProduct(ProductRun& productRun) {
  // The bound counts from here: the wait before the call and every retry fall within it.
  const uint32_t started = system_.TickCount();
  if (!WaitForFreeInstaller(system_, options_.wait, started, events_, productRun)) {
    productRun.installerResult = kErrorInstallAlreadyRunning;
    return true;
  }
  const InstallerCallPlan& call = productRun.plan.call;
  // Held, this very handle, until the installer call and its retries have returned.
  const std::unique_ptr<WritableFile> logHold = HoldLog(productRun);
  installer_.EnableLog(productRun.logPath.empty() ? 0 : kInstallLogModeVerbose, productRun.logPath,
                       0);
  const int32_t previousLevel = installer_.SetInternalUI(call.uiLevel);
  const bool called = CallInstaller(productRun, call.commandLine, started);
  installer_.SetInternalUI(previousLevel);
  return called;
}

std::vector<DetectedTarget> PayloadApplier::Detect(const std::vector<std::wstring>& codes) {
  if (!system_.IsElevated()) return DetectTargets(installer_, codes);
  // Elevated, only an installation that needed administrators counts: one that any user can make
  // must not have the updater's rights run its installer actions.
  ElevatedDetection detection = DetectElevatedTargets(installer_, codes);
  if (detection.error != 0) events_.RegistrationsUnread(detection.error);
  for (const ProductRegistration& refused : detection.refused) {
    events_.RegistrationRefused(refused);
  }
  return std::move(detection.targets);
}

void PayloadApplier::Fail(const PayloadKind& kind, PayloadRun& run, PayloadFailure failure,
                          uint32_t error) {
  run.outcome = PayloadOutcome::Failed;
  run.error = error;
  run.failure = failure;
  events_.PayloadEnded(kind, run);
  messages_.ShowMessage(FailureMessage(failure),
                        {run.messages.language, run.messages.productName, error});
}

void PayloadApplier::Execute(const PayloadPlan& plan, PayloadRun& run) {
  for (const ProductPlan& step : plan.products) {
    run.products.push_back(ProductRun{step, {}, std::nullopt, 0});
    ProductRun& productRun = run.products.back();
    // The installer service runs on this thread and is left the product's locale.
    EnterProductLocale(system_, step.locale);
    run.messages = {step.locale, step.messageName, 0};
    events_.ProductDecided(productRun, plan.targets);
    if (step.message != 0) messages_.ShowMessage(step.message, run.messages);
    if (step.decision.decision != Decision::kPatch || options_.planOnly) continue;
    if (!PatchProduct(productRun)) {
      // A per-user registration found right before the call: the product counts as not
      // installed, exactly as one refused at detection.
      run.products.pop_back();
      continue;
    }
    if (!IsPatched(*productRun.installerResult)) {
      messages_.ShowMessage(kMsgFailure,
                            {step.locale, step.messageName, *productRun.installerResult});
    }
  }
  if (EveryUpToDate(run.products)) run.messages.language = EnterUserLocale(system_);
  run.outcome = OutcomeOf(run.products);
}

std::optional<PayloadCopy>& PayloadApplier::HeldCopy(const PayloadKind& kind) {
  size_t index = 0;
  while (index + 1 < kPayloadKinds.size() &&
         std::wstring_view(kPayloadKinds[index].resourceName) != kind.resourceName) {
    ++index;
  }
  return copies_[index];
}

PayloadPlan PayloadApplier::ReadPayload(const PayloadKind& kind) {
  PayloadPlan read;
  read.kind = &kind;
  // Held read-only from here until the payload's run returns, then deleted.
  CopyResult copy = store_.HoldPayloadCopy(kind.resourceName, options_.copyFolder);
  if (copy.status != ExtractStatus::kWritten) {
    read.carried = copy.status != ExtractStatus::kNotCarried;
    read.outcome = read.carried ? PayloadOutcome::Failed : PayloadOutcome::Unnecessary;
    if (read.carried) read.failure = PayloadFailure::kOwnStep;
    read.error = copy.error;
    return read;
  }
  std::optional<PayloadCopy>& held = HeldCopy(kind);
  held.emplace(std::move(*copy.copy));
  events_.PayloadHeld(kind, held->fullPath());

  Outcome<PatchTargets> targets = ReadPatchTargets(installer_, held->fullPath());
  if (!targets) {
    read.failure = PayloadFailure::kOwnStep;
    read.error = targets.error();
    return read;
  }
  events_.PatchRead(kind, *targets);
  read.targets = std::move(*targets);
  return read;
}

PayloadPlan PayloadApplier::PlanProducts(const PayloadPlan& read, const std::wstring& messageName,
                                         const std::vector<LeftVersion>& left) {
  const std::vector<DetectedTarget> detected = Detect(read.targets.productCodes);
  for (const DetectedTarget& target : detected) events_.TargetDetected(target);
  const std::optional<PayloadCopy>& held = HeldCopy(*read.kind);
  const PlanSettings settings{held ? held->fullPath() : std::wstring(), options_.logFolder,
                              options_.suppressRestart};
  return PlanPayload(system_, *read.kind, read.targets, detected, settings, messageName, left);
}

ChainPlan PayloadApplier::PlanChain(const MessageContext& start) {
  ChainPlan chain;
  std::wstring messageName = start.productName;
  std::vector<LeftVersion> left;
  for (const PayloadKind& kind : kPayloadKinds) {
    PayloadPlan plan = ReadPayload(kind);
    if (plan.carried && plan.failure == PayloadFailure::kNone) {
      plan = PlanProducts(plan, messageName, left);
      messageName = plan.messageName;
      AddLeftVersions(plan, left);
    }
    events_.PayloadPlanned(plan);
    chain.payloads.push_back(std::move(plan));
    if (chain.payloads.back().outcome == PayloadOutcome::Failed) break;
  }
  return chain;
}

PayloadRun PayloadApplier::RunPayload(const PayloadKind& kind, const PayloadPlan* planned,
                                      const MessageContext& messages) {
  PayloadRun run;
  run.messages = messages;
  const PayloadPlan read = planned != nullptr ? *planned : ReadPayload(kind);
  if (!read.carried) {
    run.carried = false;
    events_.PayloadEnded(kind, run);
    return run;
  }
  if (read.failure == PayloadFailure::kOwnStep) {
    Fail(kind, run, read.failure, read.error);
    HeldCopy(kind).reset();
    return run;
  }
  // Under "/plan" nothing has changed since the plan was made; a run detects again, as an earlier
  // payload's run or anybody else may have changed the machine.
  PayloadPlan fresh;
  const PayloadPlan* plan = planned;
  if (planned == nullptr || !options_.planOnly) {
    fresh = PlanProducts(read, messages.productName, {});
    if (planned != nullptr) {
      const std::vector<PlanDifference> differences = ComparePlans(*planned, fresh);
      if (!differences.empty()) events_.PlanDiffers(*planned, fresh, differences);
    }
    plan = &fresh;
  }
  if (plan->failure != PayloadFailure::kNone) {
    Fail(kind, run, plan->failure, 0);
  } else {
    Execute(*plan, run);
    if (run.products.empty()) {
      // Every installed target was held back at its call: as when none is installed at detection.
      run.messages = messages;
      Fail(kind, run, PayloadFailure::kNoTargetInstalled, 0);
    } else {
      events_.PayloadEnded(kind, run);
    }
  }
  HeldCopy(kind).reset();
  return run;
}

void PayloadApplier::ReleaseCopies() {
  for (std::optional<PayloadCopy>& copy : copies_) copy.reset();
}

PayloadRun PayloadApplier::ApplyPayload(const PayloadKind& kind, const MessageContext& messages) {
  return RunPayload(kind, nullptr, messages);
}

}  // namespace updater
