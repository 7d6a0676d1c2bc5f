// The plan of one payload as data: from the patch's targets and what was detected, the decision
// and its reason, the locale, the inserted name, the log's place and the message of each product,
// and the payload's outcome when nothing is executed.
#include "apply/payload_plan.h"

#include <gtest/gtest.h>

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

class PayloadPlanTable : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PayloadPlanTable, IsWhatTheRunWillDo) {
  const PlanCase& c = GetParam();
  const PayloadPlan plan =
      PlanPayload(*c.kind, TargetsOf(c.detected, c.versions), c.detected, c.logFolder, L"Came In");
  EXPECT_EQ(plan.failure, c.failure);
  EXPECT_EQ(plan.outcome, c.outcome);
  EXPECT_EQ(plan.everyUpToDate, c.everyUpToDate);
  EXPECT_EQ(plan.messageName, c.messageName);
  EXPECT_EQ(plan.logFolder, c.logFolder);
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
    EXPECT_EQ(got.logPath, want.logPath);
    EXPECT_EQ(got.message, want.message);
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
                  {L"{B}", D::kNotCovered, R::kUnknownVersion, 0, L"Came In", L"", 308}}},
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

}  // namespace
}  // namespace updater
