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
#include "platform/path_limits.h"

namespace updater {
namespace {

// The temporary folder as the platform names it, without its trailing backslash; empty when it
// cannot be had. Only read: the log never creates a folder.
std::wstring TemporaryFolder(System& system) {
  wchar_t buffer[kMaxPathCapacity] = {};
  const Outcome<uint32_t> length = system.TempPath(kMaxPathCapacity, buffer);
  if (!length || *length == 0 || *length >= kMaxPathCapacity) return {};
  std::wstring folder(buffer, *length);
  if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return folder;
}

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

int RunUpdater(System& system, Installer& installer) {
  Settings settings;
  ParseCommandLine(system, settings);

  // Until a product's language is known, texts come in the language the process started with.
  const uint32_t startLanguage = system.ThreadLocale();

  // The run log goes where "/log" says, else to the temporary folder under the update's name and
  // the time. Whether it can be written changes nothing else.
  RunLog log(system);
  const std::wstring temporaryFolder = TemporaryFolder(system);
  if (!settings.logPath.empty()) {
    log.OpenAt(settings.logPath);
  } else {
    log.OpenDefault(temporaryFolder, FileStem(system.ModulePath().value_or(L"update.exe")));
  }
  RunJournal journal(system, log);
  journal.Header(system.CommandLineArguments().value_or(std::vector<std::wstring>{}),
                 OsLine(system), std::nullopt, temporaryFolder);

  PayloadStore store(system);
  RunFindings findings;
  std::wstring outcome;
  if (settings.apply) {
    MessageBoxes messages(system, settings.quiet, &journal);
    PayloadApplier applier(system, installer, store, messages, journal);
    const SequenceResult result =
        RunPayloadSequence(applier, messages, MessageContext{startLanguage, L"", 0});
    findings = FindingsOf(result.runs);
    outcome = DescribeSequence(result);
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
    if (settings.info) {
      const std::wstring report = BuildInformationReport(system, installer, store);
      journal.ReportShown(report);
      system.ShowMessageBox(report, L"Info", kInfoBoxFlags);
      outcome = settings.extract ? outcome + L", report shown" : L"report shown";
    }
  }
  const uint32_t code = OutcomeExitCode(findings);
  journal.Ended(outcome, code, settings.exitCode);
  return static_cast<int>(ProcessExitCode(code, settings.exitCode));
}

}  // namespace updater
