// What a payload's run will do, worked out before anything is done: per installed target the
// decision with its reason, the locale its messages come in, the name they insert, the message
// its decision shows and, for a product to patch, everything its installer call needs; per payload
// the outcome when nothing is executed. Planned from what was read and detected, and from what the
// payloads planned before it would leave, so that a chain of payloads is planned as a whole before
// any installer call. Checked as data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apply/decision.h"
#include "apply/payload_failure.h"
#include "inspection/summary.h"
#include "inspection/target_product.h"
#include "payload/payload_kinds.h"
#include "platform/system.h"

namespace updater {

enum class PayloadOutcome {
  Failed = 1,       // nothing patched and the reason was shown
  Applied = 2,      // at least one product patched
  Unnecessary = 3,  // every target up to date, or the payload is not carried at all
};

// Everything one product's installer call is made with.
struct InstallerCallPlan {
  std::wstring filesInUse;   // text 315 in the product's locale: what the installer shows then
  std::wstring commandLine;  // BuildPatchCommandLine of the payload's copy and filesInUse
  int32_t uiLevel = 0;       // MsiSetInternalUI for the call, restored after it
  // The installer log's places in the order they are tried: where something other than a regular
  // file or a link stands at one, no log; where a link stands there, the next. Empty: no log.
  std::vector<std::wstring> logChoices;
};

struct ProductPlan {
  // As detected, but for its installed version: the one the payloads planned before this one
  // would leave (versionFrom names the last of them), else the detected one.
  TargetProductRecord product;
  const PayloadKind* versionFrom = nullptr;
  ReasonedDecision decision;
  uint32_t locale = 0;       // the locale in force for the product, its messages and text 315
  std::wstring messageName;  // the product name its messages insert
  uint32_t message = 0;      // the box its decision shows by itself: 308 when not covered, else 0
  InstallerCallPlan call;    // kPatch only
};

struct PayloadPlan {
  const PayloadKind* kind = nullptr;
  bool carried = true;  // false: the executable has no such payload, nothing is done
  PayloadFailure failure = PayloadFailure::kNone;  // why it ends before its products
  uint32_t error = 0;                              // kOwnStep: the error shown with 300
  PatchTargets targets;                            // as read from the payload's copy
  std::vector<ProductPlan> products;  // the installed targets, in the order of the codes
  bool everyUpToDate = false;  // the closing message then comes in the user's default language
  PayloadOutcome outcome = PayloadOutcome::Failed;  // when nothing is executed ("/plan")
  std::wstring messageName;  // the product name the messages after the payload insert
};

// The chain: one plan per payload kind in order, up to and including the first that fails (a run
// stops there).
struct ChainPlan {
  std::vector<PayloadPlan> payloads;
};

// The inputs of a plan besides what was read and detected.
struct PlanSettings {
  std::wstring payloadPath;      // the held copy's full path, which the installer is given
  std::wstring logFolder;        // the installer logs' folder; empty: no logs
  bool suppressRestart = false;  // "/norestart"
};

// A product an earlier payload of the chain would patch, at the version it would leave it.
struct LeftVersion {
  std::wstring productCode;
  std::wstring version;
  const PayloadKind* by = nullptr;
};

// Plans one payload of kind from the patch's targets and one detected entry per target code. A
// product in left (the last entry of its code counts) is decided at that version. A kind that
// names its products inserts each product's name from that product on; another keeps
// messageName, the name the run came in with. The system gives the locale in force for each
// product's language (entered on the thread, as its messages will be) and text 315 in it.
PayloadPlan PlanPayload(System& system, const PayloadKind& kind, const PatchTargets& targets,
                        const std::vector<DetectedTarget>& detected, const PlanSettings& settings,
                        const std::wstring& messageName, const std::vector<LeftVersion>& left = {});

// Adds to left what plan would leave: each product it patches at its upgrade version.
void AddLeftVersions(const PayloadPlan& plan, std::vector<LeftVersion>& left);

// Where the machine as detected before a payload's run differs from its plan: a product planned
// but no longer installed (now empty), one installed but not planned (planned empty), or one
// whose version or decision is not the planned one.
struct PlanDifference {
  std::wstring productCode;
  const ProductPlan* planned = nullptr;
  const ProductPlan* now = nullptr;
};
std::vector<PlanDifference> ComparePlans(const PayloadPlan& planned, const PayloadPlan& now);

// The installer's property command line for a patch, with REBOOT=ReallySuppress at its end when
// suppressRestart. Nothing is cut: with a payload path of at most 259 characters and the longest
// text 315 of any language it stays far below the 1024 characters the installer's command line
// has room for.
std::wstring BuildPatchCommandLine(const std::wstring& payloadPath, const std::wstring& filesInUse,
                                   bool suppressRestart = false);

// Sets the thread locale to a product's language and gives the locale now in force, which the
// product's messages are shown in. A language that names no locale the platform knows gives the
// user's default instead. The installer service runs on this thread and is left the product's
// locale, as it always was.
uint32_t EnterProductLocale(System& system, uint32_t locale);

// The thread locale back to the user's default; gives the locale now in force.
uint32_t EnterUserLocale(System& system);

}  // namespace updater
