#include "launcher/entry.h"

#include "apply/apply_payload.h"
#include "diagnostics/info_report.h"
#include "diagnostics/os_description.h"
#include "diagnostics/run_log.h"
#include "launcher/exit_code.h"
#include "launcher/run_log_writer.h"
#include "launcher/run_sequence.h"
#include "launcher/settings.h"
#include "messages/catalogue.h"
#include "payload/folder_choice.h"
#include "payload/payload_kinds.h"
#include "payload/private_folder.h"
#include "payload/run_places.h"
#include "platform/decimal_text.h"
#include "platform/path_limits.h"

namespace updater {
namespace {

std::wstring DescribeSequence(const SequenceResult& result) {
  if (!result.completed) return L"stopped after a payload that failed";
  for (const PayloadRun& run : result.runs) {
    if (run.outcome == PayloadOutcome::Applied) return L"completed, patched";
  }
  return L"completed, nothing needed patching";
}

// The run's private folder for the payloads' copies, removed with everything in it when it goes.
struct CopyFolder {
  std::unique_ptr<PrivateFolder> folder;
  FolderChoice copies;  // its path, or why there is none: every copy then fails with that
};

// Makes the private folder under the places' root. With checkUserTemp, an unusable user's
// temporary folder (the place of the installer logs) is a reason for none too.
CopyFolder PrepareCopyFolder(System& system, const RunPlaces& places, bool checkUserTemp) {
  uint32_t error = checkUserTemp ? places.userTemp.error : 0;
  if (error == 0) error = places.privateRoot.error;
  if (error != 0) return {nullptr, {{}, error}};
  Outcome<std::unique_ptr<PrivateFolder>> folder =
      PrivateFolder::Create(system, places.privateRoot.folder, system.IsElevated());
  if (!folder) return {nullptr, {{}, folder.error()}};
  const std::wstring path = (*folder)->path();
  return {std::move(*folder), {path, 0}};
}

// What a mode found: the run log's words for how it ended, and what its exit code comes from -
// the findings, or a code of the mode's own.
struct ModeFindings {
  std::wstring outcome;
  RunFindings findings;
  std::optional<uint32_t> code;
};

// What every mode works with.
struct RunParts {
  System& system;
  Installer& installer;
  const Settings& settings;
  RunLogWriter& logWriter;
  MessageBoxes& messages;
  PayloadStore& store;
  const RunPlaces& places;
  uint32_t startLanguage;  // the language texts come in until a product's is known
  bool stationHidden;      // nobody sees the window station: no box at all
};

// A malformed "/wait": message 309, nothing else.
ModeFindings RefuseCommandLine(RunParts& run) {
  run.messages.ShowMessage(kMsgBadCommandLine, MessageContext{run.startLanguage, L"", 0});
  return {L"command line refused: /wait takes a whole number of seconds from 0 to 86400",
          {},
          kExitBadCommandLine};
}

// "/?" or "/help": the usage in the user's default language.
ModeFindings ShowUsage(RunParts& run) {
  run.messages.ShowUsage(EnterUserLocale(run.system));
  return {L"usage", {}, std::nullopt};
}

// The default mode, and "/plan" as the same run with no installer call: every payload in turn,
// then the closing message. "/plan" ends with a code of its own.
ModeFindings ApplyPayloads(RunParts& run) {
  const Settings& settings = run.settings;
  // Removed with everything in it when the mode ends, after every copy in it is closed.
  const CopyFolder copies = PrepareCopyFolder(run.system, run.places, true);
  PayloadApplier applier(run.system, run.installer, run.store, run.messages, run.logWriter);
  ApplyOptions options;
  options.suppressRestart = settings.noRestart;
  const bool plan = settings.mode == Mode::kPlan;
  options.planOnly = plan;
  options.wait.boundMilliseconds = settings.waitSeconds * 1000;
  options.copyFolder = copies.copies;
  options.logFolder = run.places.installerLogFolder;
  applier.SetOptions(options);
  const SequenceResult result =
      RunPayloadSequence(applier, run.messages, MessageContext{run.startLanguage, L"", 0});
  if (!plan) return {DescribeSequence(result), FindingsOf(result.runs), std::nullopt};
  const uint32_t code = PlanExitCode(result.runs);
  return {L"plan only, nothing changed: " +
              std::wstring(code == kExitInstallFailure   ? L"a payload cannot be read"
                           : code == kExitNotApplicable  ? L"a payload would be refused"
                           : code == kExitPlanWouldPatch ? L"a run would patch"
                                                         : L"nothing to do"),
          {},
          code};
}

// "/e": every payload the executable carries written to the path given ("_lp" and "_ps" before
// the extension of the others), or to new files in the user's temporary folder, which are the
// user's and stay. Elevated, that folder must keep the logs' rule (ChooseExtractFolder): where it
// does not, message 300 with the reason and nothing is written.
ModeFindings ExtractPayloads(RunParts& run) {
  ModeFindings found;
  const FolderChoice& folder = run.places.extractFolder;
  bool carried = false;
  for (const PayloadKind& kind : kPayloadKinds) {
    carried = carried || run.system.FindPayloadResource(kind.resourceName).has_value();
  }
  if (run.settings.extractPath.empty() && folder.error != 0 && carried) {
    run.logWriter.Note(
        L"No folder for /e: the temporary folder is refused, error " + DecimalText(folder.error) +
        (run.system.IsElevated() ? L" (elevated, it must lie in the user's profile and be reached "
                                   L"without a link or junction); nothing written"
                                 : L"; nothing written"));
    run.messages.ShowMessage(kMsgFailure, MessageContext{run.startLanguage, L"", folder.error});
    found.findings.extractFailed = true;
    found.outcome = L"extraction refused";
    return found;
  }
  for (const PayloadKind& kind : kPayloadKinds) {
    // Each payload's name starts from the path as given.
    std::wstring suffix;
    if (kind.suffixId != 0) {
      LoadText(run.system, kind.suffixId, run.startLanguage, suffix, kMaxPathCapacity);
    }
    const WriteResult written =
        run.settings.extractPath.empty()
            ? run.store.WritePayloadToNewFile(kind.resourceName, folder)
            : run.store.WritePayloadAt(run.settings.extractPath, suffix, kind.resourceName);
    run.logWriter.Extracted(kind, written.path, written);
    if (written.status == ExtractStatus::kFailed) found.findings.extractFailed = true;
  }
  found.outcome = found.findings.extractFailed ? L"extraction incomplete" : L"extracted";
  return found;
}

// "/i": the information report, in a box unless nobody sees the window station.
ModeFindings ShowReport(RunParts& run) {
  const CopyFolder copies = PrepareCopyFolder(run.system, run.places, false);
  const std::wstring report =
      BuildInformationReport(run.system, run.installer, run.store, copies.copies);
  run.logWriter.ReportShown(report);
  // Nobody could close the report either where nobody sees the window station.
  if (!run.stationHidden) run.system.ShowMessageBox(report, L"Info", kInfoBoxFlags);
  return {run.stationHidden ? L"report not shown" : L"report shown", {}, std::nullopt};
}

// The one mode the command line chose.
ModeFindings RunMode(RunParts& run) {
  switch (run.settings.mode) {
    case Mode::kRefused:
      return RefuseCommandLine(run);
    case Mode::kUsage:
      return ShowUsage(run);
    case Mode::kPlan:
    case Mode::kApply:
      return ApplyPayloads(run);
    case Mode::kExtract:
      return ExtractPayloads(run);
    case Mode::kExtractAndReport: {
      ModeFindings found = ExtractPayloads(run);
      found.outcome += L", " + ShowReport(run).outcome;
      return found;
    }
    case Mode::kReport:
      return ShowReport(run);
    case Mode::kNothing:
      break;
  }
  return {L"nothing to do (/pi)", {}, std::nullopt};
}

// On a window station nobody sees (a service, session 0, an agent running as SYSTEM) a box could
// never be closed and the run would never end: it shows none, exactly as with "/q".
bool StationHidden(System& system, RunLogWriter& logWriter) {
  const std::optional<bool> visible = system.WindowStationVisible();
  const bool hidden = visible.has_value() && !*visible;
  if (hidden) {
    logWriter.Note(
        L"Window station not visible (no WSF_VISIBLE: a service, session 0 or an agent running as "
        L"SYSTEM): no message box is shown, as with /q, since nobody could close one");
  }
  return hidden;
}

}  // namespace

int RunUpdater(System& system, Installer& installer) {
  const Settings settings = ParseCommandLine(system);
  const bool plan = settings.plan;
  const uint32_t startLanguage = system.ThreadLocale();

  // The run log goes where "/log" says, else to the temporary folder under the update's name and
  // the time. Whether it can be written changes nothing else.
  // The places are worked out once here (elevated, the logs go only where the user could write
  // anyway, else to the protected log folder) and passed down.
  const RunPlaces places = FindRunPlaces(system, system.IsElevated());
  RunLog log(system);
  if (!settings.logPath.empty()) {
    log.OpenAt(settings.logPath);
  } else {
    log.OpenDefault(places.runLogFolder, FileStem(system.ModulePath().value_or(L"update.exe")));
  }
  RunLogWriter logWriter(system, log);
  logWriter.Header(system.CommandLineArguments().value_or(std::vector<std::wstring>{}),
                   DescribeWindows(system), system.IsElevated(), places.runLogFolder);

  const bool stationHidden = StationHidden(system, logWriter);
  logWriter.SetSilence(plan ? L"/plan" : settings.quiet ? L"/q" : L"window station not visible");
  logWriter.SetPlan(plan);
  MessageBoxes messages(system, settings.quiet || stationHidden || plan, &logWriter);
  PayloadStore store(system);
  RunParts run{system, installer, settings,      logWriter,    messages,
               store,  places,    startLanguage, stationHidden};
  const ModeFindings found = RunMode(run);

  const uint32_t code = found.code.value_or(OutcomeExitCode(found.findings));
  const bool returned = settings.exitCode || plan;
  logWriter.Ended(found.outcome, code, returned,
                  settings.exitCode ? L"/exitcode given" : L"/plan given");
  return static_cast<int>(ProcessExitCode(code, returned));
}

}  // namespace updater
