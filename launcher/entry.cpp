#include "launcher/entry.h"

#include "apply/apply_payload.h"
#include "diagnostics/info_report.h"
#include "diagnostics/os_description.h"
#include "diagnostics/run_log.h"
#include "launcher/exit_code.h"
#include "launcher/run_journal.h"
#include "launcher/run_sequence.h"
#include "launcher/settings.h"
#include "messages/catalogue.h"
#include "payload/payload_kinds.h"
#include "payload/private_folder.h"
#include "payload/temp_folder.h"
#include "platform/path_limits.h"

namespace updater {
namespace {

// The operating-system line of the information report.
std::wstring OsLine(System& system) {
  std::wstring description = L"Windows";
  FourPartVersion version;
  version.Clear();
  DescribeOperatingSystem(system, description, version);
  return description + L"(" + version.ToText() + L")";
}

std::wstring DescribeSequence(const SequenceResult& result) {
  if (!result.completed) return L"stopped after a payload that failed";
  for (const PayloadRun& run : result.runs) {
    if (run.outcome == PayloadOutcome::Applied) return L"completed, patched";
  }
  return L"completed, nothing needed patching";
}

}  // namespace

namespace {

// Gives the store the run's private folder for its temporary copies; or, where no such folder can
// be had, the reason, which every later copy then fails with. With checkUserTemp, an unusable
// user's temporary folder (the place of the installer logs) is such a reason too.
std::unique_ptr<PrivateFolder> PrepareGround(System& system, PayloadStore& store,
                                             bool checkUserTemp) {
  const FolderChoice userTemp = ChooseUserTempFolder(system);
  const bool elevated = system.IsElevated();
  const FolderChoice root = ChoosePrivateRoot(system, elevated, userTemp);
  uint32_t error = checkUserTemp ? userTemp.error : 0;
  if (error == 0) error = root.error;
  if (error != 0) {
    store.RefuseCopies(error);
    return nullptr;
  }
  Outcome<std::unique_ptr<PrivateFolder>> folder =
      PrivateFolder::Create(system, root.folder, elevated);
  if (!folder) {
    store.RefuseCopies(folder.error());
    return nullptr;
  }
  store.UseCopyFolder((*folder)->path());
  return std::move(*folder);
}

}  // namespace

int RunUpdater(System& system, Installer& installer) {
  Settings settings;
  ParseCommandLine(system, settings);

  // Until a product's language is known, texts come in the language the process started with.
  const uint32_t startLanguage = system.ThreadLocale();

  // The run log goes where "/log" says, else to the temporary folder under the update's name and
  // the time. Whether it can be written changes nothing else.
  RunLog log(system);
  // The checked folder the installer logs go to as well (elevated: one the user could write to
  // anyway, else the protected log folder): never the starting folder, and never reached through
  // a link or junction.
  std::wstring temporaryFolder = ChooseLogFolder(system, system.IsElevated()).folder;
  if (!temporaryFolder.empty() && !system.CheckReachedWithoutLinks(temporaryFolder)) {
    temporaryFolder.clear();
  }
  if (!settings.logPath.empty()) {
    log.OpenAt(settings.logPath);
  } else {
    log.OpenDefault(temporaryFolder, FileStem(system.ModulePath().value_or(L"update.exe")));
  }
  RunJournal journal(system, log);
  journal.Header(system.CommandLineArguments().value_or(std::vector<std::wstring>{}),
                 OsLine(system), system.IsElevated(), temporaryFolder);

  // On a window station nobody sees (a service, session 0, an agent running as SYSTEM) a box could
  // never be closed and the run would never end: it shows none, exactly as with "/q".
  const std::optional<bool> stationVisible = system.WindowStationVisible();
  const bool stationHidden = stationVisible.has_value() && !*stationVisible;
  if (stationHidden) {
    journal.Note(
        L"Window station not visible (no WSF_VISIBLE: a service, session 0 or an agent running as "
        L"SYSTEM): no message box is shown, as with /q, since nobody could close one");
  }
  const bool quiet = settings.quiet || stationHidden || settings.plan;
  journal.SetSilence(settings.plan    ? L"/plan"
                     : settings.quiet ? L"/q"
                                      : L"window station not visible");
  journal.SetPlan(settings.plan);

  PayloadStore store(system);
  // Removed with everything in it when the run ends, after every copy in it is closed.
  std::unique_ptr<PrivateFolder> ground;
  RunFindings findings;
  std::wstring outcome;
  std::optional<uint32_t> fixedCode;
  MessageBoxes messages(system, quiet, &journal);
  if (settings.refused) {
    messages.ShowMessage(kMsgBadCommandLine, MessageContext{startLanguage, L"", 0});
    outcome = L"command line refused: /wait takes a whole number of seconds from 0 to 86400";
    fixedCode = kExitBadCommandLine;
  } else if (settings.usage) {
    messages.ShowUsage(EnterUserLocale(system));
    outcome = L"usage";
  } else if (settings.apply || settings.plan) {
    ground = PrepareGround(system, store, true);
    PayloadApplier applier(system, installer, store, messages, journal);
    ApplyOptions options;
    options.suppressRestart = settings.noRestart;
    options.planOnly = settings.plan;
    options.wait.boundMilliseconds = settings.waitSeconds * 1000;
    applier.SetOptions(options);
    const SequenceResult result =
        RunPayloadSequence(applier, messages, MessageContext{startLanguage, L"", 0});
    findings = FindingsOf(result.runs);
    outcome = DescribeSequence(result);
    if (settings.plan) {
      fixedCode = PlanExitCode(result.runs);
      outcome = L"plan only, nothing changed: " +
                std::wstring(*fixedCode == kExitInstallFailure   ? L"a payload cannot be read"
                             : *fixedCode == kExitNotApplicable  ? L"a payload would be refused"
                             : *fixedCode == kExitPlanWouldPatch ? L"a run would patch"
                                                                 : L"nothing to do");
    }
  } else {
    outcome = L"nothing to do (/pi)";
    if (settings.extract) {
      for (const PayloadKind& kind : kPayloadKinds) {
        // Each payload's name starts from the path as given.
        std::wstring target = settings.extractPath;
        std::wstring suffix;
        if (kind.suffixId != 0) {
          LoadText(system, kind.suffixId, startLanguage, suffix, kMaxPathCapacity);
        }
        const WriteResult written = store.WritePayload(target, kind.resourceName, suffix);
        journal.Extracted(kind, target, written);
        if (written.status == ExtractStatus::kFailed) findings.extractFailed = true;
      }
      outcome = findings.extractFailed ? L"extraction incomplete" : L"extracted";
    }
    // "/e" without a path writes into the user's temporary folder: its files are the user's.
    if (settings.info) {
      ground = PrepareGround(system, store, false);
      const std::wstring report = BuildInformationReport(system, installer, store);
      journal.ReportShown(report);
      // Nobody could close the report either where nobody sees the window station.
      if (!stationHidden) system.ShowMessageBox(report, L"Info", kInfoBoxFlags);
      outcome = (settings.extract ? outcome + L", " : std::wstring()) +
                (stationHidden ? L"report not shown" : L"report shown");
    }
  }
  const uint32_t code = fixedCode.value_or(OutcomeExitCode(findings));
  const bool returned = settings.exitCode || settings.plan;
  journal.Ended(outcome, code, returned, settings.exitCode ? L"/exitcode given" : L"/plan given");
  return static_cast<int>(ProcessExitCode(code, returned));
}

}  // namespace updater
