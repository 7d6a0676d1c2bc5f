#include "apply/payload_plan.h"

#include "apply/log_name.h"
#include "inspection/four_part_version.h"
#include "messages/catalogue.h"
#include "messages/message_box.h"
#include "platform/decimal_text.h"
#include "platform/installer.h"

namespace updater {
namespace {

// The installer log's places for a product, first choice first, up to the first that does not fit.
std::vector<std::wstring> LogChoices(const std::wstring& logFolder,
                                     const std::wstring& productName) {
  std::vector<std::wstring> choices;
  if (logFolder.empty()) return choices;
  for (int n = 1; n <= kLogNameChoices; ++n) {
    std::wstring path = LogPathChoice(logFolder, productName, n);
    if (path.empty()) break;
    choices.push_back(std::move(path));
  }
  return choices;
}

InstallerCallPlan PlanInstallerCall(System& system, const PlanSettings& settings,
                                    const std::wstring& productName, uint32_t locale) {
  InstallerCallPlan call;
  LoadText(system, kTextFilesInUse, locale, call.filesInUse, kCatalogueLookupCapacity);
  call.commandLine =
      BuildPatchCommandLine(settings.payloadPath, call.filesInUse, settings.suppressRestart);
  call.uiLevel = kInstallUiLevelBasicHideCancel;
  call.logChoices = LogChoices(settings.logFolder, productName);
  return call;
}

// The product as the earlier payloads would leave it.
ProductPlan StartProductPlan(const DetectedTarget& target, const std::vector<LeftVersion>& left) {
  ProductPlan product;
  product.product = target.product;
  for (const LeftVersion& entry : left) {
    if (entry.productCode != target.product.productCode) continue;
    product.product.installedVersion = entry.version;
    product.versionFrom = entry.by;
  }
  return product;
}

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

PayloadPlan PlanPayload(System& system, const PayloadKind& kind, const PatchTargets& targets,
                        const std::vector<DetectedTarget>& detected, const PlanSettings& settings,
                        const std::wstring& messageName, const std::vector<LeftVersion>& left) {
  PayloadPlan plan;
  plan.kind = &kind;
  plan.targets = targets;
  plan.messageName = messageName;
  size_t upToDate = 0;
  bool anyPatch = false;
  for (const DetectedTarget& target : detected) {
    if (!target.installed) continue;
    ProductPlan product = StartProductPlan(target, left);
    product.decision = DecideWithReason(product.product.InstalledVersion(), targets.upgradeVersion,
                                        targets.targetVersions);
    product.locale =
        EnterProductLocale(system, static_cast<uint32_t>(ReadDecimal(target.product.language)));
    if (kind.namesProduct) plan.messageName = target.product.productName;
    product.messageName = plan.messageName;
    switch (product.decision.decision) {
      case Decision::kUpToDate:
        ++upToDate;
        break;
      case Decision::kPatch:
        anyPatch = true;
        product.call =
            PlanInstallerCall(system, settings, target.product.productName, product.locale);
        break;
      case Decision::kNotCovered:
        product.message = kMsgWrongVersion;
        break;
    }
    plan.products.push_back(std::move(product));
  }
  if (plan.products.empty()) {
    plan.failure = PayloadFailure::kNoTargetInstalled;
    return plan;
  }
  plan.everyUpToDate = upToDate == plan.products.size();
  plan.outcome = plan.everyUpToDate ? PayloadOutcome::Unnecessary
                 : anyPatch         ? PayloadOutcome::Applied
                                    : PayloadOutcome::Failed;
  return plan;
}

void AddLeftVersions(const PayloadPlan& plan, std::vector<LeftVersion>& left) {
  for (const ProductPlan& product : plan.products) {
    if (product.decision.decision != Decision::kPatch) continue;
    left.push_back({product.product.productCode, plan.targets.upgradeVersion.ToText(), plan.kind});
  }
}

std::vector<PlanDifference> ComparePlans(const PayloadPlan& planned, const PayloadPlan& now) {
  const auto find = [](const PayloadPlan& plan, const std::wstring& code) -> const ProductPlan* {
    for (const ProductPlan& product : plan.products) {
      if (product.product.productCode == code) return &product;
    }
    return nullptr;
  };
  std::vector<PlanDifference> differences;
  for (const ProductPlan& product : planned.products) {
    const ProductPlan* current = find(now, product.product.productCode);
    if (current == nullptr || current->decision.reason != product.decision.reason ||
        !current->product.InstalledVersion().Equals(product.product.InstalledVersion())) {
      differences.push_back({product.product.productCode, &product, current});
    }
  }
  for (const ProductPlan& product : now.products) {
    if (find(planned, product.product.productCode) == nullptr) {
      differences.push_back({product.product.productCode, nullptr, &product});
    }
  }
  return differences;
}

}  // namespace updater
