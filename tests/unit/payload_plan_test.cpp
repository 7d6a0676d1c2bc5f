// The plan as data. One payload: from the patch's targets and what was detected, the decision and
// its reason, the locale, the inserted name, the message and the installer call of each product,
// and the payload's outcome when nothing is executed. A chain: every payload planned before any
// installer call, each against what the ones before it would leave, and the run then doing what
// the plan says (or what the machine says, where it differs).
#include "apply/payload_plan.h"

#include <gtest/gtest.h>

#include "apply/apply_payload.h"
#include "launcher/exit_code.h"
#include "launcher/run_sequence.h"
#include "tests/fakes/fake_platform.h"
#include "tests/unit/placed_options.h"

namespace updater {
namespace {

const PayloadKind& kGlobal = kPayloadKinds[0];
const PayloadKind& kLanguagePack = kPayloadKinds[1];

// An installed target: "code,name,language,version"; a code alone is not installed.
std::vector<DetectedTarget> Detected(std::initializer_list<std::vector<std::wstring>> entries) {
  std::vector<DetectedTarget> detected;
  for (const std::vector<std::wstring>& entry : entries) {
    DetectedTarget target;
    target.product.productCode = entry[0];
    target.installed = entry.size() > 1;
    if (target.installed) {
      target.product.productName = entry[1];
      target.product.language = entry[2];
      target.product.installedVersion = entry[3];
    }
    detected.push_back(target);
  }
  return detected;
}

struct ProductRow {
  const wchar_t* code;
  Decision decision;
  DecisionReason reason;
  uint32_t locale;
  const wchar_t* messageName;
  const wchar_t* logPath;
  uint32_t message;
};

struct PlanCase {
  const char* name;
  const PayloadKind* kind;
  const wchar_t* versions;  // "upgrade;target,target"
  std::vector<DetectedTarget> detected;
  const wchar_t* logFolder;
  // What the plan must say:
  PayloadFailure failure;
  PayloadOutcome outcome;
  bool everyUpToDate;
  const wchar_t* messageName;  // after the payload
  std::vector<ProductRow> products;
};

PatchTargets TargetsOf(const std::vector<DetectedTarget>& detected, const std::wstring& versions) {
  PatchTargets targets;
  for (const DetectedTarget& target : detected)
    targets.productCodes.push_back(target.product.productCode);
  const size_t split = versions.find(L';');
  targets.upgradeVersion = FourPartVersion::FromText(versions.substr(0, split));
  std::wstring rest = split == std::wstring::npos ? L"" : versions.substr(split + 1);
  while (!rest.empty()) {
    const size_t comma = rest.find(L',');
    targets.targetVersions.push_back(FourPartVersion::FromText(rest.substr(0, comma)));
    rest = comma == std::wstring::npos ? L"" : rest.substr(comma + 1);
  }
  return targets;
}

class PayloadPlanTable : public ::testing::TestWithParam<PlanCase>, public testing::FakePlatform {
 protected:
  void SetUp() override {
    system.AddStringTable(1031, {{315, L"Bitte schliessen:"}});
    system.SetUserDefaultLocale(1049);
  }
};

TEST_P(PayloadPlanTable, IsWhatTheRunWillDo) {
  const PlanCase& c = GetParam();
  const PlanSettings settings{L"C:\\Private\\MSP2", c.logFolder, false};
  const PayloadPlan plan = PlanPayload(system, *c.kind, TargetsOf(c.detected, c.versions),
                                       c.detected, settings, L"Came In");
  EXPECT_EQ(plan.kind, c.kind);
  EXPECT_EQ(plan.failure, c.failure);
  EXPECT_EQ(plan.outcome, c.outcome);
  EXPECT_EQ(plan.everyUpToDate, c.everyUpToDate);
  EXPECT_EQ(plan.messageName, c.messageName);
  ASSERT_EQ(plan.products.size(), c.products.size());
  for (size_t i = 0; i < c.products.size(); ++i) {
    const ProductPlan& got = plan.products[i];
    const ProductRow& want = c.products[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(got.product.productCode, want.code);
    EXPECT_EQ(got.decision.decision, want.decision);
    EXPECT_EQ(got.decision.reason, want.reason);
    EXPECT_EQ(got.locale, want.locale);
    EXPECT_EQ(got.messageName, want.messageName);
    EXPECT_EQ(got.message, want.message);
    EXPECT_EQ(got.versionFrom, nullptr);
    // The installer call, whole, for a product to patch; nothing for the others.
    const InstallerCallPlan& call = got.call;
    if (want.decision != Decision::kPatch) {
      EXPECT_TRUE(call.commandLine.empty() && call.logChoices.empty() && call.uiLevel == 0);
      continue;
    }
    const std::wstring filesInUse =
        want.locale == 1031 ? L"Bitte schliessen:" : MessageText(kTextFilesInUse);
    EXPECT_EQ(call.filesInUse, filesInUse);
    EXPECT_EQ(call.commandLine,
              L"PATCH=\"C:\\Private\\MSP2\" REBOOTPROMPT=S FILESINUSETEXT=\"" + filesInUse + L"\"");
    EXPECT_EQ(call.uiLevel, 0x23);
    if (*want.logPath == L'\0') {
      EXPECT_TRUE(call.logChoices.empty());
    } else {
      // The first choice, then " (2)" and " (3)" before " SP1.log".
      ASSERT_EQ(call.logChoices.size(), 3u);
      EXPECT_EQ(call.logChoices[0], want.logPath);
      std::wstring second = want.logPath;
      second.insert(second.size() - 8, L" (2)");
      EXPECT_EQ(call.logChoices[1], second);
    }
  }
}

using D = Decision;
using R = DecisionReason;
using F = PayloadFailure;
using O = PayloadOutcome;

INSTANTIATE_TEST_SUITE_P(
    Cases, PayloadPlanTable,
    ::testing::Values(
        PlanCase{"patch_one",
                 &kGlobal,
                 L"2.0;1.0",
                 Detected({{L"{A}", L"Suite", L"1031", L"1.0.0"}}),
                 L"C:\\Temp",
                 F::kNone,
                 O::Applied,
                 false,
                 L"Suite",
                 {{L"{A}", D::kPatch, R::kAtTargetVersion, 1031, L"Suite",
                   L"C:\\Temp\\Suite SP1.log", 0}}},
        // Codes not installed keep their place out of the plan; the others keep their order.
        PlanCase{"not_installed_left_out_in_order",
                 &kGlobal,
                 L"2.0;1.0,1.5",
                 Detected({{L"{X}"},
                           {L"{C}", L"Gamma", L"1041", L"1.5"},
                           {L"{Y}"},
                           {L"{A}", L"Alpha", L"1033", L"2.0"}}),
                 L"C:\\Temp",
                 F::kNone,
                 O::Applied,
                 false,
                 L"Alpha",
                 {{L"{C}", D::kPatch, R::kAtTargetVersion, 1041, L"Gamma",
                   L"C:\\Temp\\Gamma SP1.log", 0},
                  {L"{A}", D::kUpToDate, R::kAtUpgradeVersion, 1033, L"Alpha", L"", 0}}},
        PlanCase{"none_installed_is_307",
                 &kGlobal,
                 L"2.0;1.0",
                 Detected({{L"{X}"}, {L"{Y}"}}),
                 L"C:\\Temp",
                 F::kNoTargetInstalled,
                 O::Failed,
                 false,
                 L"Came In",
                 {}},
        PlanCase{
            "every_one_up_to_date",
            &kGlobal,
            L"2.0;1.0,2.0,3.0",
            Detected({{L"{A}", L"Alpha", L"1031", L"2.0"}, {L"{B}", L"Beta", L"1049", L"3.0"}}),
            L"C:\\Temp",
            F::kNone,
            O::Unnecessary,
            true,
            L"Beta",
            {{L"{A}", D::kUpToDate, R::kAtUpgradeVersion, 1031, L"Alpha", L"", 0},
             {L"{B}", D::kUpToDate, R::kUpgradeListedFirst, 1049, L"Beta", L"", 0}}},
        PlanCase{"not_covered_shows_308_and_fails_alone",
                 &kGlobal,
                 L"2.0;1.0",
                 Detected({{L"{A}", L"Old", L"1036", L"0.9"}}),
                 L"C:\\Temp",
                 F::kNone,
                 O::Failed,
                 false,
                 L"Old",
                 {{L"{A}", D::kNotCovered, R::kUnknownVersion, 1036, L"Old", L"", 308}}},
        // A kind that does not name its products keeps the name the run came in with.
        PlanCase{"language_pack_keeps_the_name",
                 &kLanguagePack,
                 L"2.0;1.0",
                 Detected({{L"{A}", L"Pack", L"1031", L"1.0"}, {L"{B}", L"Other", L"x", L"0.1"}}),
                 L"C:\\Temp",
                 F::kNone,
                 O::Applied,
                 false,
                 L"Came In",
                 {{L"{A}", D::kPatch, R::kAtTargetVersion, 1031, L"Came In",
                   L"C:\\Temp\\Pack SP1.log", 0},
                  {L"{B}", D::kNotCovered, R::kUnknownVersion, 1049, L"Came In", L"", 308}}},
        // Without a folder for the installer logs a product is still patched, without a log;
        // a name that would leave the folder or name a device stays a file in it.
        PlanCase{"no_log_folder_no_log",
                 &kGlobal,
                 L"2.0;1.0",
                 Detected({{L"{A}", L"Suite", L"1033", L"1.0"}}),
                 L"",
                 F::kNone,
                 O::Applied,
                 false,
                 L"Suite",
                 {{L"{A}", D::kPatch, R::kAtTargetVersion, 1033, L"Suite", L"", 0}}},
        PlanCase{"hostile_names_stay_files",
                 &kGlobal,
                 L"2.0;1.0",
                 Detected({{L"{A}", L"..\\..\\evil", L"1033", L"1.0"},
                           {L"{B}", L"NUL.x", L"1033", L"1.0"}}),
                 L"C:\\Temp",
                 F::kNone,
                 O::Applied,
                 false,
                 L"NUL.x",
                 {{L"{A}", D::kPatch, R::kAtTargetVersion, 1033, L"..\\..\\evil",
                   L"C:\\Temp\\.._.._evil SP1.log", 0},
                  {L"{B}", D::kPatch, R::kAtTargetVersion, 1033, L"NUL.x",
                   L"C:\\Temp\\_NUL.x SP1.log", 0}}}),
    [](const ::testing::TestParamInfo<PlanCase>& param) { return std::string(param.param.name); });

// --- the chain ------------------------------------------------------------------------------

// One payload of the chain: its kind (0 global, 1 language pack, 2 product-specific), its targets
// and "upgrade;targets"; codes nullptr: a payload that is no patch.
struct Carried {
  int kind;
  const wchar_t* codes;
  const wchar_t* versions;
};

// What the plan says of one product: the version it is decided at, the payload whose plan gives
// that version (-1: as detected) and the decision.
struct PlannedProduct {
  const wchar_t* code;
  const wchar_t* version;
  int versionFrom;
  Decision decision;
};

struct PlannedPayload {
  int kind;
  PayloadFailure failure;
  PayloadOutcome outcome;
  std::vector<PlannedProduct> products;
};

struct ChainCase {
  const char* name;
  std::vector<Carried> carried;
  std::vector<std::pair<const wchar_t*, const wchar_t*>> installed;  // code, version
  std::vector<PlannedPayload> plan;  // the chain's plan, payload by payload
  uint32_t planCode;                 // what "/plan" returns
  size_t installerCalls;             // what the run then does
};

class ChainPlanTable : public ::testing::TestWithParam<ChainCase>, public testing::FakePlatform {
 protected:
  void SetUp() override {
    system.SetElevated(false);  // products as this user sees them, whose version a call changes
    const ChainCase& c = GetParam();
    for (const Carried& payload : c.carried) {
      const wchar_t* resource = kPayloadKinds[payload.kind].resourceName;
      if (payload.codes == nullptr) {
        system.AddPayload(resource, std::string("noise"));
      } else {
        CarryPayload(resource, std::wstring(payload.codes), std::wstring(payload.versions));
      }
    }
    for (const auto& [code, version] : c.installed) {
      installer.AddProduct(code, std::wstring(L"Product ") + code, L"1033", version);
    }
    // A patched product is at the upgrade version of the payload that patched it.
    installer.onConfigure = [this](const std::wstring& commandLine) {
      const std::wstring code =
          installer.calls().back().substr(std::wstring(L"ConfigureProductEx ").size());
      for (const Carried& payload : GetParam().carried) {
        const std::wstring copy = commandLine.substr(7, commandLine.find(L'"', 7) - 7);
        const std::optional<std::string> content = system.ReadFile(copy);
        const std::wstring resource = kPayloadKinds[payload.kind].resourceName;
        if (content && *content == "MSP " + std::string(resource.begin(), resource.end())) {
          const std::wstring versions = payload.versions;
          installer.product(code).info[L"VersionString"] = versions.substr(0, versions.find(L';'));
        }
      }
    };
  }
  PayloadStore store{system};
  MessageBoxes messages{system, true};
  PayloadApplier applier{system, installer, store, messages};
};

TEST_P(ChainPlanTable, PlansEveryPayloadBeforeAnyCallAndTheRunDoesWhatItSays) {
  const ChainCase& c = GetParam();
  applier.SetOptions(PlacedOptions(system, ApplyOptions{false, true, {}, {}, {}}));
  const ChainPlan chain = applier.PlanChain({1033, L"", 0});
  EXPECT_TRUE(installer.configurations().empty());
  ASSERT_EQ(chain.payloads.size(), c.plan.size());
  for (size_t i = 0; i < c.plan.size(); ++i) {
    SCOPED_TRACE(i);
    const PayloadPlan& got = chain.payloads[i];
    const PlannedPayload& want = c.plan[i];
    EXPECT_EQ(got.kind, &kPayloadKinds[want.kind]);
    EXPECT_EQ(got.failure, want.failure);
    EXPECT_EQ(got.outcome, want.outcome);
    ASSERT_EQ(got.products.size(), want.products.size());
    for (size_t j = 0; j < want.products.size(); ++j) {
      SCOPED_TRACE(j);
      const ProductPlan& product = got.products[j];
      EXPECT_EQ(product.product.productCode, want.products[j].code);
      EXPECT_EQ(product.product.installedVersion, want.products[j].version);
      EXPECT_EQ(product.versionFrom, want.products[j].versionFrom < 0
                                         ? nullptr
                                         : &kPayloadKinds[want.products[j].versionFrom]);
      EXPECT_EQ(product.decision.decision, want.products[j].decision);
      // Each call names its own payload's copy.
      if (product.decision.decision == Decision::kPatch) {
        EXPECT_NE(product.call.commandLine.find(L"PATCH=\"C:\\Temp\\MSP"), std::wstring::npos);
      }
    }
  }

  // "/plan" walks the plan, and the run after it does what the plan said.
  const SequenceResult planned = RunPayloadSequence(applier, messages, {1033, L"", 0});
  EXPECT_EQ(PlanExitCode(planned.runs), c.planCode);
  EXPECT_TRUE(installer.configurations().empty());
  EXPECT_TRUE(system.PayloadCopies().empty());

  applier.SetOptions(PlacedOptions(system));
  const SequenceResult ran = RunPayloadSequence(applier, messages, {1033, L"", 0});
  EXPECT_EQ(installer.configurations().size(), c.installerCalls);
  std::vector<Decision> plannedDecisions, ranDecisions;
  for (const PayloadRun& run : planned.runs) {
    for (const ProductRun& productRun : run.products) {
      plannedDecisions.push_back(productRun.plan.decision.decision);
    }
  }
  for (const PayloadRun& run : ran.runs) {
    for (const ProductRun& productRun : run.products) {
      ranDecisions.push_back(productRun.plan.decision.decision);
    }
  }
  EXPECT_EQ(ranDecisions, plannedDecisions);
  EXPECT_EQ(ran.runs.size(), planned.runs.size());
  EXPECT_TRUE(system.PayloadCopies().empty());
}

using P = PlannedProduct;

INSTANTIATE_TEST_SUITE_P(
    Chains, ChainPlanTable,
    ::testing::Values(
        // The second payload targets the version the first one brings.
        ChainCase{"two_second_on_the_first",
                  {{0, L"{A}", L"2.0;1.0"}, {1, L"{A}", L"3.0;2.0"}},
                  {{L"{A}", L"1.0"}},
                  {{0, F::kNone, O::Applied, {P{L"{A}", L"1.0", -1, D::kPatch}}},
                   {1, F::kNone, O::Applied, {P{L"{A}", L"2.0.0.0", 0, D::kPatch}}},
                   {2, F::kNone, O::Unnecessary, {}}},  // not carried
                  1,
                  2},
        // The second targets only the version the first replaces: not covered, as in the run.
        ChainCase{"two_second_on_the_replaced_version",
                  {{0, L"{A}", L"2.0;1.0"}, {1, L"{A}", L"3.0;1.0"}},
                  {{L"{A}", L"1.0"}},
                  {{0, F::kNone, O::Applied, {P{L"{A}", L"1.0", -1, D::kPatch}}},
                   {1, F::kNone, O::Failed, {P{L"{A}", L"2.0.0.0", 0, D::kNotCovered}}}},
                  1642,
                  1},
        // Three: each on the version the one before brings; another product only in the third.
        ChainCase{"three_in_a_row",
                  {{0, L"{A}", L"2.0;1.0"}, {1, L"{A}", L"3.0;2.0"}, {2, L"{A};{B}", L"4.0;3.0"}},
                  {{L"{A}", L"1.0"}, {L"{B}", L"3.0"}},
                  {{0, F::kNone, O::Applied, {P{L"{A}", L"1.0", -1, D::kPatch}}},
                   {1, F::kNone, O::Applied, {P{L"{A}", L"2.0.0.0", 0, D::kPatch}}},
                   {2,
                    F::kNone,
                    O::Applied,
                    {P{L"{A}", L"3.0.0.0", 1, D::kPatch}, P{L"{B}", L"3.0", -1, D::kPatch}}}},
                  1,
                  4},
        // An earlier payload fails: the plan stops where the run stops, the third is never read.
        ChainCase{"three_the_second_fails",
                  {{0, L"{A}", L"2.0;1.0"}, {1, L"{L}", L"2.0;1.0"}, {2, L"{A}", L"3.0;2.0"}},
                  {{L"{A}", L"1.0"}},
                  {{0, F::kNone, O::Applied, {P{L"{A}", L"1.0", -1, D::kPatch}}},
                   {1, F::kNoTargetInstalled, O::Failed, {}}},
                  1642,
                  1},
        ChainCase{"three_the_first_cannot_be_read",
                  {{0, nullptr, nullptr}, {1, L"{A}", L"2.0;1.0"}, {2, L"{A}", L"3.0;2.0"}},
                  {{L"{A}", L"1.0"}},
                  {{0, F::kOwnStep, O::Failed, {}}},
                  1603,
                  0},
        // A product already up to date for the first payload; the second patches it.
        ChainCase{"two_the_first_up_to_date",
                  {{0, L"{A}", L"2.0;1.0"}, {1, L"{A}", L"3.0;2.0"}},
                  {{L"{A}", L"2.0"}},
                  {{0, F::kNone, O::Unnecessary, {P{L"{A}", L"2.0", -1, D::kUpToDate}}},
                   {1, F::kNone, O::Applied, {P{L"{A}", L"2.0", -1, D::kPatch}}},
                   {2, F::kNone, O::Unnecessary, {}}},
                  1,
                  1},
        // The second one finds the product at its own upgrade version once the first has run.
        ChainCase{"two_both_bring_the_same_version",
                  {{0, L"{A}", L"2.0;1.0"}, {2, L"{A}", L"2.0;1.0"}},
                  {{L"{A}", L"1.0"}},
                  {{0, F::kNone, O::Applied, {P{L"{A}", L"1.0", -1, D::kPatch}}},
                   {1, F::kNone, O::Unnecessary, {}},
                   {2, F::kNone, O::Unnecessary, {P{L"{A}", L"2.0.0.0", 0, D::kUpToDate}}}},
                  1,
                  1}),
    [](const ::testing::TestParamInfo<ChainCase>& param) { return std::string(param.param.name); });

// The machine's truth wins: where the first payload's call fails, the product stays where it was,
// and the second payload's run goes by what it finds, telling where that differs from the plan.
class PlanDiffersEvents final : public IgnoringEvents {
 public:
  void PlanDiffers(const PayloadPlan& planned, const PayloadPlan&,
                   const std::vector<PlanDifference>& found) override {
    for (const PlanDifference& difference : found) {
      differences.push_back(
          {planned.kind, difference.productCode,
           difference.planned ? difference.planned->decision.decision : Decision::kUpToDate,
           difference.now ? difference.now->decision.decision : Decision::kUpToDate});
    }
  }
  struct Seen {
    const PayloadKind* kind;
    std::wstring code;
    Decision planned, now;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> differences;
};

TEST(ChainPlan, TheRunGoesByTheMachineWhereItDiffersFromThePlan) {
  testing::FakePlatform platform;
  platform.system.SetElevated(false);
  platform.CarryPayload(kPayloadGlobal, std::wstring(L"{A};{B}"), std::wstring(L"2.0;1.0"));
  platform.CarryPayload(kPayloadLanguagePack, std::wstring(L"{A};{B}"),
                        std::wstring(L"3.0;1.0,2.0"));
  platform.installer.AddProduct(L"{A}", L"Alpha", L"1033", L"1.0");
  platform.installer.AddProduct(L"{B}", L"Beta", L"1033", L"1.0");
  platform.installer.SetConfigureResult(L"{A}", 1603);
  // Only B's call brings it to 2.0; A stays at 1.0.
  platform.installer.onConfigure = [&platform](const std::wstring&) {
    if (platform.installer.calls().back() == L"ConfigureProductEx {B}" &&
        platform.installer.product(L"{B}").info[L"VersionString"] == L"1.0") {
      platform.installer.product(L"{B}").info[L"VersionString"] = L"2.0";
    }
  };
  PayloadStore store{platform.system};
  MessageBoxes messages{platform.system, true};
  PlanDiffersEvents events;
  PayloadApplier applier{platform.system, platform.installer, store, messages, events};
  applier.SetOptions(PlacedOptions(platform.system));
  const SequenceResult result = RunPayloadSequence(applier, messages, {1033, L"", 0});
  // Both are patched by each payload: A at 1.0 both times (the language pack covers 1.0 too),
  // B at 1.0 and then at 2.0, as planned.
  EXPECT_EQ(platform.ConfiguredCodes(),
            (std::vector<std::wstring>{L"{A}", L"{B}", L"{A}", L"{B}"}));
  ASSERT_EQ(result.runs.size(), 3u);  // the product-specific one not carried
  EXPECT_EQ(result.runs[1].products[0].plan.product.installedVersion, L"1.0");
  EXPECT_EQ(result.runs[1].products[1].plan.product.installedVersion, L"2.0");
  EXPECT_TRUE(platform.system.PayloadCopies().empty());
  // A was planned at 2.0 for the language pack: the machine has it at 1.0.
  ASSERT_EQ(events.differences.size(), 1u);
  EXPECT_EQ(events.differences[0], (PlanDiffersEvents::Seen{&kPayloadKinds[1], L"{A}",
                                                            Decision::kPatch, Decision::kPatch}));
}

}  // namespace
}  // namespace updater
