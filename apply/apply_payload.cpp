#include "apply/apply_payload.h"

#include "apply/installer_result.h"
#include "apply/log_name.h"
#include "apply/registration_check.h"
#include "inspection/four_part_version.h"
#include "inspection/summary.h"
#include "messages/catalogue.h"
#include "platform/decimal_text.h"
#include "platform/path_limits.h"
#include "platform/regular_file.h"

namespace updater {
namespace {

class NoEvents final : public ApplyEvents {
 public:
  void PayloadHeld(const PayloadKind&, const std::wstring&) override {}
  void PatchRead(const PayloadKind&, const PatchTargets&) override {}
  void TargetDetected(const DetectedTarget&) override {}
  void ProductDecided(const ProductRun&, const PatchTargets&) override {}
  void InstallerCallStarts(const ProductRun&) override {}
  void InstallerCallEnded(const ProductRun&) override {}
  void PayloadEnded(const PayloadKind&, const PayloadRun&) override {}
};

}  // namespace

ApplyEvents& ApplyEvents::None() {
  static NoEvents none;
  return none;
}

std::wstring BuildPatchCommandLine(const std::wstring& payloadPath, const std::wstring& filesInUse,
                                   bool suppressRestart) {
  return L"PATCH=\"" + payloadPath + L"\" REBOOTPROMPT=S FILESINUSETEXT=\"" + filesInUse + L"\"" +
         (suppressRestart ? L" REBOOT=ReallySuppress" : L"");
}

uint32_t EnterUserLocale(System& system) {
  return system.SetThreadLocaleId(kLocaleUserDefault).value_or(system.ThreadLocale());
}

uint32_t EnterProductLocale(System& system, uint32_t locale) {
  const std::optional<uint32_t> entered = system.SetThreadLocaleId(locale);
  return entered ? *entered : EnterUserLocale(system);
}

bool EveryUpToDate(const std::vector<ProductRun>& products) {
  for (const ProductRun& productRun : products) {
    if (productRun.decision != Decision::kUpToDate) return false;
  }
  return !products.empty();
}

PayloadOutcome OutcomeOf(const std::vector<ProductRun>& products) {
  if (EveryUpToDate(products)) return PayloadOutcome::Unnecessary;
  for (const ProductRun& productRun : products) {
    if (productRun.decision == Decision::kPatch &&
        (!productRun.installerResult || IsPatched(*productRun.installerResult))) {
      return PayloadOutcome::Applied;
    }
  }
  return PayloadOutcome::Failed;
}

PayloadOutcome OutcomeOf(const PayloadPlan& plan, const std::vector<ProductRun>& products) {
  if (plan.outcome != PayloadOutcome::Applied) return plan.outcome;
  for (const ProductRun& productRun : products) {
    if (productRun.decision == Decision::kPatch &&
        (!productRun.installerResult || IsPatched(*productRun.installerResult))) {
      return PayloadOutcome::Applied;
    }
  }
  return PayloadOutcome::Failed;
}

std::unique_ptr<WritableFile> PayloadApplier::HoldLog(ProductRun& productRun,
                                                      const ProductPlan& step,
                                                      const std::wstring& logFolder) {
  // The log is made here first, safely: never through a link or junction and never over anything
  // but a regular file of its name. The handle that makes it shares reading and writing, which
  // the installer service needs to write its log, and never deleting; it is the very handle held
  // until the installer call returns, so nobody can delete or rename the log and put a link in
  // its place before the installer service writes into it. A link standing at the name is left
  // alone, and the log takes the name with " (2)" or " (3)" after the product name instead.
  // Where no hold can be made (a handle open elsewhere that does not admit one), the installer
  // gets no log path at all rather than a name nobody holds.
  productRun.logPath.clear();
  std::wstring refusedPath;
  uint32_t refusal = 0;
  for (int n = 1; n <= kLogNameChoices; ++n) {
    const std::wstring logPath =
        n == 1 ? step.logPath : LogPathChoice(logFolder, productRun.product.productName, n);
    if (logPath.empty()) break;
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
      CheckRegistrationsBeforeCall(installer_, productRun.product.productCode);
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
    productRun.installerResult = installer_.ConfigureProductEx(
        productRun.product.productCode, kInstallLevelDefault, kInstallStateDefault, commandLine);
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

bool PayloadApplier::PatchProduct(ProductRun& productRun, const ProductPlan& step,
                                  const std::wstring& payloadPath, const std::wstring& logFolder) {
  // The bound counts from here: the wait before the call and every retry fall within it.
  const uint32_t started = system_.TickCount();
  if (!WaitForFreeInstaller(system_, options_.wait, started, events_, productRun)) {
    productRun.installerResult = kErrorInstallAlreadyRunning;
    return true;
  }
  // Held, this very handle, until the installer call and its retries have returned.
  const std::unique_ptr<WritableFile> logHold = HoldLog(productRun, step, logFolder);
  installer_.EnableLog(productRun.logPath.empty() ? 0 : kInstallLogModeVerbose, productRun.logPath,
                       0);

  std::wstring filesInUse;
  LoadText(system_, kTextFilesInUse, productRun.language, filesInUse, kCatalogueLookupCapacity);
  const int32_t previousLevel = installer_.SetInternalUI(kInstallUiLevelBasicHideCancel);
  const std::wstring commandLine =
      BuildPatchCommandLine(payloadPath, filesInUse, options_.suppressRestart);
  const bool called = CallInstaller(productRun, commandLine, started);
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

void PayloadApplier::Execute(const PayloadPlan& plan, const PatchTargets& targets,
                             const std::wstring& payloadPath, PayloadRun& run) {
  bool heldBack = false;
  for (const ProductPlan& step : plan.products) {
    ProductRun started;
    started.product = step.product;
    started.decision = step.decision.decision;
    started.reason = step.decision.reason;
    run.products.push_back(std::move(started));
    ProductRun& productRun = run.products.back();
    productRun.language = EnterProductLocale(system_, step.locale);
    run.messages = {productRun.language, step.messageName, 0};
    events_.ProductDecided(productRun, targets);
    if (step.message != 0) messages_.ShowMessage(step.message, run.messages);
    if (productRun.decision != Decision::kPatch || options_.planOnly) continue;
    if (!PatchProduct(productRun, step, payloadPath, plan.logFolder)) {
      // A per-user registration found right before the call: the product counts as not
      // installed, exactly as one refused at detection.
      run.products.pop_back();
      heldBack = true;
      continue;
    }
    if (!IsPatched(*productRun.installerResult)) {
      messages_.ShowMessage(kMsgFailure,
                            {productRun.language, step.messageName, *productRun.installerResult});
    }
  }
  if (heldBack ? EveryUpToDate(run.products) : plan.everyUpToDate) {
    run.messages.language = EnterUserLocale(system_);
  }
  run.outcome = heldBack ? OutcomeOf(run.products) : OutcomeOf(plan, run.products);
}

PayloadRun PayloadApplier::ApplyPayload(const PayloadKind& kind, const MessageContext& messages) {
  PayloadRun run;
  run.messages = messages;
  // Held read-only from here until the run returns, then deleted.
  const CopyResult copy = store_.HoldPayloadCopy(kind.resourceName, options_.copyFolder);
  if (copy.status == ExtractStatus::kNotCarried) {
    run.carried = false;
    events_.PayloadEnded(kind, run);
    return run;
  }
  if (copy.status == ExtractStatus::kFailed) {
    Fail(kind, run, PayloadFailure::kOwnStep, copy.error);
    return run;
  }
  const std::wstring& payloadPath = copy.copy->fullPath();
  events_.PayloadHeld(kind, payloadPath);

  const Outcome<PatchTargets> targets = ReadPatchTargets(system_, installer_, payloadPath);
  if (!targets) {
    Fail(kind, run, PayloadFailure::kOwnStep, targets.error());
    return run;
  }
  events_.PatchRead(kind, *targets);

  const std::vector<DetectedTarget> detected = Detect(targets->productCodes);
  for (const DetectedTarget& target : detected) events_.TargetDetected(target);
  const PayloadPlan plan =
      PlanPayload(kind, *targets, detected, options_.logFolder, run.messages.productName);
  if (plan.failure != PayloadFailure::kNone) {
    Fail(kind, run, plan.failure, 0);
    return run;
  }

  Execute(plan, *targets, payloadPath, run);
  if (run.products.empty()) {
    // Every installed target was held back at its call: as when none is installed at detection.
    run.messages = messages;
    Fail(kind, run, PayloadFailure::kNoTargetInstalled, 0);
    return run;
  }
  events_.PayloadEnded(kind, run);
  return run;
}

}  // namespace updater
