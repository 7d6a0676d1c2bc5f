#include "apply/apply_payload.h"

#include "apply/installer_result.h"
#include "apply/log_name.h"
#include "inspection/four_part_version.h"
#include "inspection/summary.h"
#include "messages/catalogue.h"
#include "payload/temp_folder.h"
#include "platform/decimal_text.h"
#include "platform/path_limits.h"

namespace updater {
namespace {

constexpr wchar_t kLogSuffix[] = L" SP1.log";
// Names a product's log may take when a link stands at the one before.
constexpr int kLogNameTries = 3;

bool IsFileNameCharacter(wchar_t c) {
  if (c < 0x20) return false;
  switch (c) {
    case L'\\':
    case L'/':
    case L':':
    case L'*':
    case L'?':
    case L'"':
    case L'<':
    case L'>':
    case L'|':
      return false;
    default:
      return true;
  }
}

class NoEvents final : public ApplyEvents {
 public:
  void PayloadHeld(const PayloadKind&, const std::wstring&) override {}
  void PatchRead(const PayloadKind&, const PatchTargets&) override {}
  void TargetDetected(const std::wstring&, const ProductRun*) override {}
  void ProductDecided(const ProductRun&, const PatchTargets&) override {}
  void InstallerCallStarts(const ProductRun&) override {}
  void InstallerCallEnded(const ProductRun&) override {}
  void PayloadEnded(const PayloadKind&, const PayloadRun&) override {}
};

}  // namespace

uint32_t FailureMessage(PayloadFailure failure) {
  switch (failure) {
    case PayloadFailure::kOwnStep:
      return kMsgFailure;
    case PayloadFailure::kNoTargetInstalled:
      return kMsgNoProduct;
    case PayloadFailure::kNone:
      break;
  }
  return 0;
}

ApplyEvents& ApplyEvents::None() {
  static NoEvents none;
  return none;
}

std::wstring BuildLogPath(const std::wstring& workFolder, const std::wstring& productName) {
  const size_t fixedLength = workFolder.size() + 1 + std::char_traits<wchar_t>::length(kLogSuffix);
  if (fixedLength > kMaxPathCapacity - 1) return {};
  const size_t room = kMaxPathCapacity - 1 - fixedLength;
  std::wstring name = productName.substr(0, room);
  for (wchar_t& c : name) {
    if (!IsFileNameCharacter(c)) c = L'_';
  }
  // A stem such as "NUL" or "COM1 " would send the log to a device: one "_" before it makes it a
  // file name, the name shortened by one where the path would not fit otherwise.
  if (IsDeviceName(name + kLogSuffix)) {
    if (name.size() == room) name.pop_back();
    name = L"_" + name;
  }
  return workFolder + L'\\' + name + kLogSuffix;
}

std::wstring BuildPatchCommandLine(const std::wstring& payloadPath, const std::wstring& filesInUse,
                                   bool suppressRestart) {
  return L"PATCH=\"" + payloadPath + L"\" REBOOTPROMPT=S FILESINUSETEXT=\"" + filesInUse + L"\"" +
         (suppressRestart ? L" REBOOT=ReallySuppress" : L"");
}

uint32_t EnterUserLocale(System& system) {
  return system.SetThreadLocaleId(kLocaleUserDefault).value_or(system.ThreadLocale());
}

uint32_t EnterProductLocale(System& system, const std::wstring& language) {
  const std::optional<uint32_t> locale =
      system.SetThreadLocaleId(static_cast<uint32_t>(ReadDecimal(language)));
  return locale ? *locale : EnterUserLocale(system);
}

void PayloadApplier::PatchProduct(ProductRun& turn, const std::wstring& payloadPath,
                                  const std::wstring& workFolder) {
  // The bound counts from here: the wait before the call and every retry fall within it.
  const uint32_t started = system_.TickCount();
  if (!WaitForFreeInstaller(system_, options_.wait, started, events_, turn)) {
    turn.installerResult = kErrorInstallAlreadyRunning;
    return;
  }
  // The log is made here first, safely: never through a link or junction and never over anything
  // but a regular file of its name. It is held until the installer is done, so that nobody can
  // delete it and put a link in its place before the installer service writes into it.
  // A link standing at the name is left alone, and the log takes the name with " (2)" or " (3)"
  // after the product name instead.
  std::unique_ptr<WritableFile> logHold;
  turn.logPath.clear();
  for (int n = 1; n <= kLogNameTries && !workFolder.empty(); ++n) {
    const std::wstring& name = turn.product.productName;
    const std::wstring logPath =
        BuildLogPath(workFolder, n == 1 ? name : name + L" (" + DecimalText(n) + L")");
    if (logPath.empty()) break;
    Outcome<std::unique_ptr<WritableFile>> created = system_.CreateRegularFileForWriting(logPath);
    if (created) {
      logHold = std::move(*created);
      turn.logPath = logPath;
      break;
    }
    if (created.error() != kErrorCantResolveFilename) break;
  }
  // Where the hold cannot be turned into one that lets the installer service write, the log is
  // closed again; it is still a regular file of its own at the name.
  if (logHold) logHold->KeepForAnotherWriter();
  installer_.EnableLog(turn.logPath.empty() ? 0 : kInstallLogModeVerbose, turn.logPath, 0);

  std::wstring filesInUse;
  LoadText(system_, kTextFilesInUse, turn.language, filesInUse, kCatalogueLookupCapacity);
  const int32_t previousLevel = installer_.SetInternalUI(kInstallUiLevelBasicHideCancel);
  const std::wstring commandLine =
      BuildPatchCommandLine(payloadPath, filesInUse, options_.suppressRestart);
  for (uint32_t attempt = 1, pause = 0;; ++attempt) {
    // Told before the call, so that a run killed inside the call leaves an account ending with it.
    events_.InstallerCallStarts(turn);
    const uint32_t called = system_.TickCount();
    turn.installerResult = installer_.ConfigureProductEx(
        turn.product.productCode, kInstallLevelDefault, kInstallStateDefault, commandLine);
    turn.installerMilliseconds = system_.TickCount() - called;
    events_.InstallerCallEnded(turn);
    if (*turn.installerResult != kErrorInstallAlreadyRunning) break;
    pause = NextRetryPause(options_.wait, pause, system_.TickCount() - started);
    if (pause == 0) break;
    events_.InstallerRetry(turn, attempt + 1, pause);
    system_.Pause(pause);
    if (!WaitForFreeInstaller(system_, options_.wait, started, events_, turn)) break;
  }
  installer_.SetInternalUI(previousLevel);
}

PayloadRun PayloadApplier::ApplyPayload(const PayloadKind& kind, const MessageContext& messages) {
  PayloadRun run;
  run.messages = messages;
  const auto fail = [&](PayloadFailure failure, uint32_t error) {
    run.outcome = PayloadOutcome::Failed;
    run.error = error;
    run.failure = failure;
    events_.PayloadEnded(kind, run);
    messages_.ShowMessage(FailureMessage(failure),
                          {run.messages.language, run.messages.productName, error});
    return std::move(run);
  };

  // Held read-only from here until the run returns, then deleted.
  const CopyResult copy = store_.HoldPayloadCopy(kind.resourceName);
  if (copy.status == ExtractStatus::kNotCarried) {
    run.carried = false;
    events_.PayloadEnded(kind, run);
    return run;
  }
  if (copy.status == ExtractStatus::kFailed) return fail(PayloadFailure::kOwnStep, copy.error);
  events_.PayloadHeld(kind, copy.copy->fullPath());

  const Outcome<PatchTargets> targets =
      ReadPatchTargets(system_, installer_, copy.copy->fullPath());
  if (!targets) return fail(PayloadFailure::kOwnStep, targets.error());
  events_.PatchRead(kind, *targets);

  for (TargetProductRecord& product : DetectInstalledTargets(installer_, targets->productCodes)) {
    ProductRun turn;
    turn.product = std::move(product);
    run.products.push_back(std::move(turn));
  }
  // The detection keeps the installed codes in their order and drops the others.
  size_t next = 0;
  for (const std::wstring& code : targets->productCodes) {
    const bool installed =
        next < run.products.size() && run.products[next].product.productCode == code;
    events_.TargetDetected(code, installed ? &run.products[next++] : nullptr);
  }
  if (run.products.empty()) return fail(PayloadFailure::kNoTargetInstalled, 0);

  const std::wstring workFolder = GetWorkFolder(system_);
  size_t upToDate = 0;
  run.outcome = PayloadOutcome::Failed;
  for (ProductRun& turn : run.products) {
    if (kind.namesProduct) run.messages.productName = turn.product.productName;
    turn.language = EnterProductLocale(system_, turn.product.language);
    run.messages.language = turn.language;
    turn.decision = DecideProduct(turn.product.InstalledVersion(), targets->upgradeVersion,
                                  targets->targetVersions);
    events_.ProductDecided(turn, *targets);
    switch (turn.decision) {
      case Decision::kUpToDate:
        ++upToDate;
        break;
      case Decision::kPatch:
        if (options_.planOnly) {
          run.outcome = PayloadOutcome::Applied;
          break;
        }
        PatchProduct(turn, copy.copy->fullPath(), workFolder);
        if (IsPatched(*turn.installerResult)) {
          run.outcome = PayloadOutcome::Applied;
        } else {
          messages_.ShowMessage(kMsgFailure,
                                {turn.language, run.messages.productName, *turn.installerResult});
        }
        break;
      case Decision::kNotCovered:
        messages_.ShowMessage(kMsgWrongVersion, {turn.language, run.messages.productName, 0});
        break;
    }
  }
  if (upToDate == run.products.size()) {
    run.messages.language = EnterUserLocale(system_);
    run.outcome = PayloadOutcome::Unnecessary;
  }
  events_.PayloadEnded(kind, run);
  return run;
}

}  // namespace updater
