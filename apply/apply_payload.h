// Applying one embedded patch to every installed product that it targets and accepts, in phases:
// hold a copy of the payload, read the patch's targets, detect which are installed, decide per
// product, patch.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "apply/apply_events.h"
#include "apply/decision.h"
#include "apply/installer_wait.h"
#include "inspection/target_product.h"
#include "messages/message_box.h"
#include "payload/extract.h"
#include "payload/payload_kinds.h"
#include "platform/installer.h"
#include "platform/system.h"

namespace updater {

enum class PayloadOutcome {
  Failed = 1,       // nothing patched and the reason was shown
  Applied = 2,      // at least one product patched
  Unnecessary = 3,  // every target up to date, or the payload is not carried at all
};

// One product's turn in a run: what was known, decided and done.
struct ProductRun {
  TargetProductRecord product;
  uint32_t language = 0;  // the locale its messages and text 315 came in
  Decision decision = Decision::kNotCovered;
  std::wstring logPath;                     // kPatch: the log enabled, empty for none
  std::optional<uint32_t> installerResult;  // kPatch: what the installer service returned
  uint32_t installerMilliseconds = 0;       // kPatch: how long the installer call took
};

// Why a payload's run ended before its per-product pass.
enum class PayloadFailure {
  kNone,               // it reached its products, or is not carried
  kOwnStep,            // a step of the updater failed (the copy, reading the patch): 300, error
  kNoTargetInstalled,  // none of its targets is installed here: 307
};

// The message that tells such a failure: 300, 307, or none (0).
uint32_t FailureMessage(PayloadFailure failure);

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

// How the runs go, beyond the payloads themselves.
struct ApplyOptions {
  bool suppressRestart = false;  // "/norestart": REBOOT=ReallySuppress on every call
  bool planOnly = false;         // "/plan": decide every product, call the installer for none
  InstallerWaitPolicy wait;      // waiting for another installation, and retrying 1618
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

  // Holds a temporary copy of the payload, reads its targets and versions, detects the installed
  // targets and patches each whose installed version is one of the target versions, with a
  // verbose log per product in the work folder. Products at the upgrade version count as up to
  // date; other versions are shown as 308. Failures are shown as 300 with their error code,
  // and the pass goes on with the next product. Messages come in the language of
  // the product in turn and name the product name of messages (replaced per product for a kind
  // that names its products). The copy is deleted on every way out. Each installer call waits
  // while another installation runs and is retried after 1618 (options' wait policy); under
  // planOnly a product to patch counts as applied and no call is made.
  PayloadRun ApplyPayload(const PayloadKind& kind, const MessageContext& messages);

 private:
  void PatchProduct(ProductRun& turn, const std::wstring& payloadPath,
                    const std::wstring& workFolder);

  System& system_;
  Installer& installer_;
  PayloadStore& store_;
  MessageBoxes& messages_;
  ApplyEvents& events_;
  ApplyOptions options_;
};

// Sets the thread locale to a product's language, read as a decimal number, and gives the locale
// now in force, which the product's messages are shown in. A language that names no locale the
// platform knows gives the user's default instead. The installer service runs on this thread and
// is left the product's locale, as it always was.
uint32_t EnterProductLocale(System& system, const std::wstring& language);

// The thread locale back to the user's default; gives the locale now in force.
uint32_t EnterUserLocale(System& system);

// The log file of one product: "<workFolder>\<productName> SP1.log". Characters that cannot stand
// in a file name (a separator among them) become "_", so that a product name never steers the log
// elsewhere; a name too long for the 260-character path is shortened so that " SP1.log" stays.
// Empty when not even the work folder and the fixed part fit.
std::wstring BuildLogPath(const std::wstring& workFolder, const std::wstring& productName);

// The installer's property command line for a patch, with REBOOT=ReallySuppress at its end when
// suppressRestart. Nothing is cut: with a payload path of at most 259 characters and the longest
// text 315 of any language it stays far below the 1024 characters the installer's command line
// has room for.
std::wstring BuildPatchCommandLine(const std::wstring& payloadPath, const std::wstring& filesInUse,
                                   bool suppressRestart = false);

}  // namespace updater
