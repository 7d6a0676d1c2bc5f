#include "launcher/run_log_writer.h"

#include "apply/installer_result.h"
#include "platform/decimal_text.h"

namespace updater {
namespace {

std::wstring KindName(const PayloadKind& kind) {
  return std::wstring(kind.resourceName) + L" (" + kind.reportTitle + L")";
}

std::wstring ProductName(const ProductRun& productRun) {
  return productRun.product.productCode + L" \"" + productRun.product.productName + L"\"";
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
                          bool elevated, const std::wstring& temporaryFolder) {
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
  log_.Write(L"Temporary folder: " + temporaryFolder);
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
  log_.Write(L"Product " + productRun.product.productCode +
             L": not patched: registered per user, unmanaged, for " +
             (registration.userSid.empty() ? L"an unnamed user" : registration.userSid) +
             L", found right before the installer call (made since detection); the product "
             L"counts as not installed");
}

void RunLogWriter::RegistrationsUnreadAtCall(const ProductRun& productRun, uint32_t error) {
  log_.Write(L"Product " + productRun.product.productCode +
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
             DescribeDecision(productRun.reason, productRun.product.InstalledVersion(), targets) +
             (plan_ && productRun.decision == Decision::kPatch ? L" (/plan: not patched)" : L""));
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
  std::wstring outcome;
  if (!run.carried) {
    outcome = L"not carried";
  } else if (run.outcome == PayloadOutcome::Applied) {
    outcome = L"applied";
  } else if (run.outcome == PayloadOutcome::Unnecessary) {
    outcome = L"unnecessary, every target up to date";
  } else if (run.products.empty() && run.error != 0) {
    outcome = L"failed, error " + DecimalText(run.error);
  } else if (run.products.empty()) {
    outcome = L"failed, no target product installed";
  } else {
    outcome = L"failed, no product patched";
  }
  log_.Write(L"Payload " + KindName(kind) + L": " + outcome);
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
