#include "apply/apply_payload.h"

#include "apply/log_name.h"
#include "inspection/four_part_version.h"
#include "inspection/summary.h"
#include "messages/catalogue.h"
#include "payload/derived_name.h"
#include "payload/full_path.h"
#include "payload/temp_folder.h"

namespace updater {
namespace {

constexpr wchar_t kLogSuffix[] = L" SP1.log";
// Names a product's log may take when a link stands at the one before.
constexpr int kLogNameTries = 3;

// The temporary payload copy, held read-only while the run reads and installs it, and deleted
// when the run ends, whichever way it ends.
class PayloadFile {
 public:
  PayloadFile(System& system, std::wstring path, std::unique_ptr<WritableFile> held)
      : system_(system), path_(std::move(path)), held_(std::move(held)) {}
  ~PayloadFile() {
    const uint32_t error = system_.LastError();
    if (held_) held_->Close();
    system_.RemoveFile(path_);
    system_.SetLastErrorCode(error);
  }
  PayloadFile(const PayloadFile&) = delete;
  PayloadFile& operator=(const PayloadFile&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  System& system_;
  std::wstring path_;
  std::unique_ptr<WritableFile> held_;
};

bool IsSuccess(uint32_t result) {
  return result == 0 || result == kErrorSuccessRebootInitiated ||
         result == kErrorSuccessRebootRequired;
}

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

}  // namespace

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

void PayloadApplier::CollectInstalledTargets(TargetProductRecord& templateRecord) {
  // The list ends at the first empty entry: "A;;B" names A only.
  size_t separator;
  while ((separator = templateRecord.productCode.find(L';')) != std::wstring::npos &&
         separator != 0) {
    TargetProductRecord record = templateRecord;
    record.productCode = templateRecord.productCode.substr(0, separator);
    if (IsProductInstalled(installer_, record.productCode)) {
      record.installedVersion = QueryInstalledVersion(installer_, record.productCode);
      QueryProductNameAndLanguage(installer_, record.productCode, record.productName,
                                  record.language);
      applicableProducts_.push_back(std::move(record));
    }
    templateRecord.productCode.erase(0, separator + 1);
  }
}

PayloadApplier::Decision PayloadApplier::Decide(const TargetProductRecord& record) const {
  const FourPartVersion installed = FourPartVersion::FromText(record.installedVersion);
  const FourPartVersion upgrade = FourPartVersion::FromText(record.upgradeVersion);
  if (installed.Equals(upgrade)) return Decision::kUpToDate;

  // The walk goes through the target versions in their order; meeting the upgrade version before
  // the installed one means this product is already past the versions the patch fixes.
  const std::wstring entries = record.targetVersions + L',';
  size_t start = 0;
  for (size_t comma; (comma = entries.find(L',', start)) != std::wstring::npos; start = comma + 1) {
    const FourPartVersion entry = FourPartVersion::FromText(entries.substr(start, comma - start));
    if (installed.Equals(entry)) return Decision::kPatch;
    if (entry.Equals(upgrade)) return Decision::kUpToDate;
  }
  return Decision::kNotCovered;
}

bool PayloadApplier::PatchProduct(TargetProductRecord& record, const std::wstring& payloadPath,
                                  const std::wstring& workFolder, uint32_t failureMessageId) {
  // The log is made here first, safely: never through a link or junction and never over anything
  // but a regular file of its name. It is held until the installer is done, so that nobody can
  // delete it and put a link in its place before the installer service writes into it.
  // A link standing at the name is left alone, and the log takes the name with " (2)" or " (3)"
  // after the product name instead.
  std::wstring logPath;
  std::unique_ptr<WritableFile> logHold;
  uint32_t logError = kErrorCantResolveFilename;
  for (int n = 1; n <= kLogNameTries && !logHold && logError == kErrorCantResolveFilename; ++n) {
    logPath = workFolder.empty() ? std::wstring()
                                 : BuildLogPath(workFolder, n == 1 ? record.productName
                                                                   : record.productName + L" (" +
                                                                         std::to_wstring(n) + L")");
    if (logPath.empty()) break;
    logHold = system_.CreateRegularFileForWriting(logPath, logError);
  }
  if (logHold) {
    logHold->KeepForAnotherWriter();
  } else {
    logPath.clear();
  }
  installer_.EnableLog(logPath.empty() ? 0 : kInstallLogModeVerbose, logPath, 0);

  std::wstring filesInUse;
  LoadText(system_, kTextFilesInUse, filesInUse, kCatalogueLookupCapacity);
  std::wstring commandLine =
      L"PATCH=\"" + payloadPath + L"\" REBOOTPROMPT=S FILESINUSETEXT=\"" + filesInUse + L"\"";
  if (commandLine.size() > kCommandLineCapacity - 1) {
    // A cut command line would name another file or drop a property: refuse the product instead.
    system_.SetLastErrorCode(kErrorFilenameExcedRange);
    messages_.ShowMessage(failureMessageId);
    return false;
  }
  record.commandLine = std::move(commandLine);

  const int32_t previousLevel = installer_.SetInternalUI(kInstallUiLevelBasicHideCancel);
  const uint32_t result = installer_.ConfigureProductEx(record.productCode, kInstallLevelDefault,
                                                        kInstallStateDefault, record.commandLine);
  installer_.SetInternalUI(previousLevel);
  if (IsSuccess(result)) return true;
  system_.SetLastErrorCode(result);
  messages_.ShowMessage(failureMessageId);
  return false;
}

PayloadOutcome PayloadApplier::ApplyPayload(const std::wstring& resourceName,
                                            uint32_t failureMessageId, bool isGlobal) {
  std::wstring payloadPath;
  std::unique_ptr<WritableFile> held;
  switch (store_.WritePayload(payloadPath, resourceName, 0, &held)) {
    case ExtractStatus::kNotCarried:
      return PayloadOutcome::Unnecessary;
    case ExtractStatus::kFailed:
      messages_.ShowMessage(failureMessageId);
      return PayloadOutcome::Failed;
    case ExtractStatus::kWritten:
      break;
  }
  const PayloadFile payloadFile(system_, payloadPath, std::move(held));
  // The installer service is handed the copy by its full name, wherever the process stands.
  std::wstring fullPath;
  if (!GetFullPath(system_, payloadFile.path(), fullPath)) {
    messages_.ShowMessage(failureMessageId);
    return PayloadOutcome::Failed;
  }

  EmptyApplicableProducts();
  TargetProductRecord templateRecord;
  std::wstring codes;
  if (!ReadUpgradeAndTargetVersions(system_, installer_, fullPath, templateRecord.upgradeVersion,
                                    templateRecord.targetVersions) ||
      !ReadTargetProductCodes(system_, installer_, fullPath, codes)) {
    messages_.ShowMessage(failureMessageId);
    return PayloadOutcome::Failed;
  }
  templateRecord.productCode = codes + L';';
  CollectInstalledTargets(templateRecord);
  if (applicableProducts_.empty()) {
    messages_.ShowMessage(kMsgNoProduct);
    return PayloadOutcome::Failed;
  }

  // The logs go into the user's temporary folder; where there is none, the products are patched
  // without a log rather than with one in the current folder.
  std::wstring workFolder = ChooseUserTempFolder(system_).folder;
  while (!workFolder.empty() && (workFolder.back() == L'\\' || workFolder.back() == L'/')) {
    workFolder.pop_back();
  }
  size_t upToDate = 0;
  PayloadOutcome outcome = PayloadOutcome::Failed;
  for (TargetProductRecord& record : applicableProducts_) {
    if (isGlobal) messages_.SetMessageProductName(record.productName);
    // A language that names no locale the platform knows must not leave the messages in the
    // previous product's language: the user's own language serves instead.
    if (!system_.SetThreadLocaleId(static_cast<uint32_t>(ReadDecimal(record.language)))) {
      system_.SetThreadLocaleId(kLocaleUserDefault);
    }
    switch (Decide(record)) {
      case Decision::kUpToDate:
        ++upToDate;
        break;
      case Decision::kPatch:
        if (PatchProduct(record, fullPath, workFolder, failureMessageId)) {
          outcome = PayloadOutcome::Applied;
        }
        break;
      case Decision::kNotCovered:
        messages_.ShowMessage(kMsgWrongVersion);
        break;
    }
  }
  if (upToDate == applicableProducts_.size()) {
    system_.SetThreadLocaleId(kLocaleUserDefault);
    return PayloadOutcome::Unnecessary;
  }
  return outcome;
}

}  // namespace updater
