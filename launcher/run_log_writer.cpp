#include "launcher/run_log_writer.h"

#include "apply/installer_result.h"
#include "platform/decimal_text.h"

namespace updater {
namespace {

std::wstring KindName(const PayloadKind& kind) {
  return std::wstring(kind.resourceName) + L" (" + kind.reportTitle + L")";
}

std::wstring ProductName(const TargetProductRecord& product) {
  return product.productCode + L" \"" + product.productName + L"\"";
}

std::wstring ProductName(const ProductRun& productRun) {
  return ProductName(productRun.plan.product);
}

// The decision with its reason; for a version an earlier payload's plan would leave, which one.
std::wstring DescribePlannedDecision(const ProductPlan& product, const PatchTargets& targets) {
  std::wstring text =
      DescribeDecision(product.decision.reason, product.product.InstalledVersion(), targets);
  if (product.versionFrom != nullptr) {
    text += L" (the version " + std::wstring(product.versionFrom->resourceName) + L" would leave)";
  }
  return text;
}

std::wstring DescribeOutcome(PayloadOutcome outcome) {
  switch (outcome) {
    case PayloadOutcome::Applied:
      return L"applied";
    case PayloadOutcome::Unnecessary:
      return L"unnecessary, every target up to date";
    case PayloadOutcome::Failed:
      break;
  }
  return L"failed";
}

std::wstring DescribeFailure(PayloadFailure failure, uint32_t error) {
  switch (failure) {
    case PayloadFailure::kOwnStep:
      return L"failed, error " + DecimalText(error);
    case PayloadFailure::kNoTargetInstalled:
      return L"failed, no target product installed";
    case PayloadFailure::kNone:
      break;
  }
  return L"failed, no product patched";
}

// The installer call as planned: UI level, the log's places in order, the command line.
std::wstring DescribeCall(const InstallerCallPlan& call) {
  std::wstring logs;
  for (const std::wstring& choice : call.logChoices) {
    logs += (logs.empty() ? L"" : L", else ") + choice;
  }
  return L"installer call with UI level " + DecimalText(call.uiLevel) + L", installer log " +
         (logs.empty() ? std::wstring(L"none") : logs) + L", command line " + call.commandLine;
}

std::wstring SizeText(const std::optional<uint64_t>& size) {
  return size ? DecimalText(static_cast<int64_t>(*size)) + L" bytes"
              : std::wstring(L"size unknown");
}

std::wstring JoinVersions(const std::vector<FourPartVersion>& versions) {
  std::wstring text;
  for (const FourPartVersion& version : versions) {
    text += (text.empty() ? L"" : L",") + version.ToText();
  }
  return text;
}

}  // namespace

std::wstring JoinArguments(const std::vector<std::wstring>& arguments) {
  std::wstring line;
  for (const std::wstring& argument : arguments) {
    if (!line.empty()) line += L' ';
    const bool quote = argument.empty() || argument.find_first_of(L" \t") != std::wstring::npos;
    line += quote ? L"\"" + argument + L"\"" : argument;
  }
  return line;
}

std::wstring DescribeInstallerResult(uint32_t result) {
  switch (ClassifyInstallerResult(result)) {
    case InstallerResultKind::kSuccess:
      return L"success";
    case InstallerResultKind::kRestartRequired:
      return L"success, restart required";
    case InstallerResultKind::kRestartStarted:
      return L"success, restart started";
    case InstallerResultKind::kAnotherInstall:
      return L"failed: another installation is running";
    case InstallerResultKind::kFailed:
      break;
  }
  switch (result) {
    case 1602:
      return L"failed: cancelled by the user";
    case 1603:
      return L"failed: fatal error during installation";
    case 1642:
      return L"failed: the patch has no target here";
    default:
      return L"failed";
  }
}

std::wstring DescribeDecision(DecisionReason reason, const FourPartVersion& installed,
                              const PatchTargets& targets) {
  const std::wstring version = installed.ToText();
  switch (reason) {
    case DecisionReason::kAtTargetVersion:
      return L"patch: installed version " + version + L" is one of the target versions";
    case DecisionReason::kAtUpgradeVersion:
      return L"up to date: installed version " + version + L" is the upgrade version";
    case DecisionReason::kUpgradeListedFirst:
      return L"up to date: the target versions list the upgrade version " +
             targets.upgradeVersion.ToText() + L" before installed version " + version;
    case DecisionReason::kUnknownVersion:
      break;
  }
  return L"not covered: installed version " + version + L" is neither the upgrade version " +
         targets.upgradeVersion.ToText() + L" nor one of the target versions";
}

void RunLogWriter::Header(const std::vector<std::wstring>& arguments, const std::wstring& osLine,
                          bool elevated, const std::wstring& logFolder) {
  const LocalTime now = system_.CurrentLocalTime();
  log_.Write(L"Quorvex Updater run log, started " + FormatEntryTime(now).substr(0, 19));
  const std::optional<std::wstring> module = system_.ModulePath();
  if (module) {
    log_.Write(L"Update: " + *module + L" (" + SizeText(system_.FileSize(*module)) + L")");
  } else {
    log_.Write(L"Update: path unknown");
  }
  log_.Write(L"Command line: " + JoinArguments(arguments));
  log_.Write(L"Windows: " + osLine);
  log_.Write(std::wstring(L"Elevated: ") + (elevated ? L"yes" : L"no"));
  log_.Write(L"Log folder: " + logFolder);
  log_.Write(L"Run log: " + log_.path());
}

void RunLogWriter::Extracted(const PayloadKind& kind, const std::wstring& target,
                             const WriteResult& result) {
  switch (result.status) {
    case ExtractStatus::kWritten:
      log_.Write(L"Payload " + KindName(kind) + L": written to " + target + L" (" +
                 SizeText(system_.FileSize(target)) + L")");
      break;
    case ExtractStatus::kNotCarried:
      log_.Write(L"Payload " + KindName(kind) + L": not carried");
      break;
    case ExtractStatus::kFailed:
      log_.Write(L"Payload " + KindName(kind) + L": could not be written to " +
                 (target.empty() ? std::wstring(L"a temporary file") : target) + L", error " +
                 DecimalText(result.error));
      break;
  }
}

void RunLogWriter::ReportShown(const std::wstring& text) {
  log_.Write(L"Information report, box \"Info\":", text);
}

void RunLogWriter::Ended(const std::wstring& outcome, uint32_t exitCode, bool requested,
                         const wchar_t* requestedBy) {
  log_.Write(L"Outcome: " + outcome + L"; exit code " + DecimalText(exitCode) +
             (requested
                  ? L" (returned: " + std::wstring(requestedBy) + L")"
                  : std::wstring(L" (not returned: without /exitcode the process returns 0)")));
}

void RunLogWriter::PayloadHeld(const PayloadKind& kind, const std::wstring& path) {
  log_.Write(L"Payload " + KindName(kind) + L": carried, " + SizeText(system_.FileSize(path)) +
             L", copy " + path);
}

void RunLogWriter::PatchRead(const PayloadKind&, const PatchTargets& targets) {
  std::wstring codes;
  for (const std::wstring& code : targets.productCodes) {
    codes += (codes.empty() ? L"" : L";") + code;
  }
  log_.Write(L"Patch: target products " + codes + L"; upgrade version " +
             targets.upgradeVersion.ToText() + L"; target versions " +
             JoinVersions(targets.targetVersions));
}

void RunLogWriter::TargetDetected(const DetectedTarget& target) {
  const TargetProductRecord& product = target.product;
  if (!target.installed) {
    log_.Write(L"Product " + product.productCode + L": not installed");
    return;
  }
  log_.Write(L"Product " + product.productCode + L": installed, name \"" + product.productName +
             L"\", language " + product.language + L", version " + product.installedVersion);
}

void RunLogWriter::RegistrationRefused(const ProductRegistration& registration) {
  log_.Write(L"Product " + registration.productCode +
             L": not patched: registered per user, unmanaged, for " +
             (registration.userSid.empty() ? L"an unnamed user" : registration.userSid) +
             L"; any user can make such a registration, and the installer would take it with "
             L"this run's rights, also beside a machine-wide installation");
}

void RunLogWriter::RegistrationsUnread(uint32_t error) {
  log_.Write(L"Installed products could not be listed by installation context: error " +
             DecimalText(error) + L"; no target counts as installed");
}

void RunLogWriter::RegistrationRefusedAtCall(const ProductRun& productRun,
                                             const ProductRegistration& registration) {
  log_.Write(L"Product " + productRun.plan.product.productCode +
             L": not patched: registered per user, unmanaged, for " +
             (registration.userSid.empty() ? L"an unnamed user" : registration.userSid) +
             L", found right before the installer call (made since detection); the product "
             L"counts as not installed");
}

void RunLogWriter::RegistrationsUnreadAtCall(const ProductRun& productRun, uint32_t error) {
  log_.Write(L"Product " + productRun.plan.product.productCode +
             L": not patched: installed products could not be listed by installation context "
             L"right before the installer call: error " +
             DecimalText(error) + L"; the product counts as not installed");
}

void RunLogWriter::InstallerLogRefused(const ProductRun& productRun, const std::wstring& path,
                                       uint32_t error) {
  log_.Write(L"Installer log for " + ProductName(productRun) + L": none; " + path +
             L" could not be held open against deletion (error " + DecimalText(error) +
             (error == kErrorSharingViolation      ? L", a handle open elsewhere does not admit it"
              : error == kErrorCantResolveFilename ? L", a link stands at every name"
                                                   : L"") +
             L"), so no log path goes to the installer");
}

void RunLogWriter::ProductDecided(const ProductRun& productRun, const PatchTargets& targets) {
  log_.Write(L"Decision for " + ProductName(productRun) + L": " +
             DescribePlannedDecision(productRun.plan, targets) +
             (plan_ && productRun.plan.decision.decision == Decision::kPatch
                  ? L" (/plan: not patched)"
                  : L""));
}

void RunLogWriter::InstallerCallStarts(const ProductRun& productRun) {
  log_.Write(L"Installer call for " + ProductName(productRun) + L" starts; installer log " +
             (productRun.logPath.empty() ? std::wstring(L"none") : productRun.logPath));
}

void RunLogWriter::InstallerCallEnded(const ProductRun& productRun) {
  const uint32_t result = productRun.installerResult.value_or(0);
  log_.Write(L"Installer call for " + ProductName(productRun) + L" ended: result " +
             DecimalText(result) + L" (" + DescribeInstallerResult(result) + L") after " +
             DecimalText(productRun.installerMilliseconds) + L" ms");
}

void RunLogWriter::PayloadEnded(const PayloadKind& kind, const PayloadRun& run) {
  const std::wstring outcome = !run.carried ? std::wstring(L"not carried")
                               : run.outcome == PayloadOutcome::Failed
                                   ? DescribeFailure(run.failure, run.error)
                                   : DescribeOutcome(run.outcome);
  log_.Write(L"Payload " + KindName(kind) + L": " + outcome);
}

void RunLogWriter::PayloadPlanned(const PayloadPlan& plan) {
  const std::wstring payload = L"Plan for payload " + KindName(*plan.kind) + L": ";
  if (!plan.carried) {
    log_.Write(payload + L"not carried");
    return;
  }
  if (plan.failure != PayloadFailure::kNone) {
    log_.Write(payload + DescribeFailure(plan.failure, plan.error) + L", message " +
               DecimalText(FailureMessage(plan.failure)) + L"; a run stops here");
    return;
  }
  for (const ProductPlan& product : plan.products) {
    std::wstring text = L"Plan for " + ProductName(product.product) + L": " +
                        DescribePlannedDecision(product, plan.targets) + L"; locale " +
                        DecimalText(product.locale) + L", messages name \"" + product.messageName +
                        L"\"";
    if (product.message != 0) text += L", message " + DecimalText(product.message);
    if (product.decision.decision == Decision::kPatch) text += L"; " + DescribeCall(product.call);
    log_.Write(text);
  }
  log_.Write(
      payload + DescribeOutcome(plan.outcome) +
      (plan.outcome == PayloadOutcome::Failed ? L", no product patched; a run stops here" : L""));
}

void RunLogWriter::PlanDiffers(const PayloadPlan& planned, const PayloadPlan& /*now*/,
                               const std::vector<PlanDifference>& differences) {
  const auto state = [](const ProductPlan* product) {
    if (product == nullptr) return std::wstring(L"not installed");
    const Decision decision = product->decision.decision;
    return L"version " + product->product.InstalledVersion().ToText() + L" (" +
           (decision == Decision::kPatch      ? L"patch"
            : decision == Decision::kUpToDate ? L"up to date"
                                              : L"not covered") +
           L")";
  };
  for (const PlanDifference& difference : differences) {
    log_.Write(L"Payload " + KindName(*planned.kind) + L": the machine differs from the plan: " +
               difference.productCode + L" planned at " + state(difference.planned) +
               L", found at " + state(difference.now) + L"; the run goes by what it found");
  }
}

void RunLogWriter::MessageComposed(uint32_t id, const std::wstring& caption,
                                   const std::wstring& text, bool shown) {
  log_.Write(L"Message " + DecimalText(id) + L", caption \"" + caption + L"\"" +
                 (shown ? std::wstring(L", shown:") : L", not shown: " + silence_ + L":"),
             text);
}

void RunLogWriter::InstallerBusy(const ProductRun& productRun, uint32_t leftMilliseconds) {
  log_.Write(L"Installer busy before the call for " + ProductName(productRun) +
             L": another installation holds Global\\_MSIExecute; waiting up to " +
             DecimalText(leftMilliseconds) + L" ms");
}

void RunLogWriter::InstallerWaitEnded(const ProductRun& productRun, uint32_t waitedMilliseconds,
                                      bool free) {
  if (free) {
    log_.Write(L"Installer free for " + ProductName(productRun) + L" after waiting " +
               DecimalText(waitedMilliseconds) + L" ms");
    return;
  }
  log_.Write(L"Installer still busy after waiting " + DecimalText(waitedMilliseconds) +
             L" ms: the call for " + ProductName(productRun) +
             L" is not made; result 1618 (another installation is running)");
}

void RunLogWriter::InstallerRetry(const ProductRun& productRun, uint32_t attempt,
                                  uint32_t pauseMilliseconds) {
  log_.Write(L"Installer call for " + ProductName(productRun) +
             L" gave 1618 (another installation is running): call " + DecimalText(attempt) +
             L" after a pause of " + DecimalText(pauseMilliseconds) + L" ms");
}

}  // namespace updater
