// The deployment descriptor's content: the commands, return codes, detection rule and removal
// written from the facts of an update, and the facts read from its payloads.
#include "tools/descriptor/descriptor.h"

#include <gtest/gtest.h>
#include <nettle/base64.h>

#include <string>

#include "tests/unit/patch_fixtures.h"

namespace descriptor {
namespace {

using packer::testing::GoodSummary;
using packer::testing::MakePatch;
using packer::testing::SummaryStream;
using packer::testing::Value;

constexpr char kA[] = "{8A2F6C1E-3B4D-4E5F-9A0B-1C2D3E4F5A6B}";
constexpr char kB[] = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
constexpr char kPatch1[] = "{11111111-2222-3333-4444-555555555555}";
constexpr char kPatch2[] = "{66666666-7777-8888-9999-AAAAAAAAAAAA}";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

PayloadFacts Patch(std::string resource, std::vector<std::string> targets, std::string upgrade,
                   std::optional<std::string> patchCode) {
  PayloadFacts payload;
  payload.resource = std::move(resource);
  payload.size = 4096;
  payload.patch = PatchFacts{std::move(targets), std::move(upgrade), {"1.0.0"}, patchCode};
  return payload;
}

UpdateFacts Update(std::vector<PayloadFacts> payloads, std::string name = "update.exe") {
  UpdateFacts facts;
  facts.fileName = std::move(name);
  facts.size = 253952;
  facts.sha256 = std::string(64, 'a');
  facts.payloads = std::move(payloads);
  return facts;
}

// The member "key": value of the first object that has key after from, as written.
std::string Member(const std::string& json, const std::string& key, std::size_t from = 0) {
  const std::string start = "\"" + key + "\": ";
  const std::size_t at = json.find(start, from);
  if (at == std::string::npos) return "<absent>";
  const std::size_t value = at + start.size();
  std::size_t end = value;
  if (json[value] == '"') {
    for (end = value + 1; json[end] != '"'; ++end) end += json[end] == '\\';
    ++end;
  } else {
    end = json.find_first_of(",\n", value);
  }
  return json.substr(value, end - value);
}

std::string DecodedScript(const std::string& json) {
  std::string encoded = Member(json, "scriptContent");
  encoded = encoded.substr(1, encoded.size() - 2);
  base64_decode_ctx context;
  base64_decode_init(&context);
  std::string out(BASE64_DECODE_LENGTH(encoded.size()), '\0');
  std::size_t length = out.size();
  EXPECT_EQ(base64_decode_update(&context, &length, reinterpret_cast<std::uint8_t*>(out.data()),
                                 encoded.size(), encoded.data()),
            1);
  EXPECT_EQ(base64_decode_final(&context), 1);
  out.resize(length);
  return out;
}

TEST(Descriptor, OneTargetProductGetsAProductCodeRuleAndTheDocumentedRemoval) {
  const std::string json = DescriptorJson(Update({Patch("IDR_MSP", {kA}, "2.1.30", kPatch1)}));
  EXPECT_EQ(Member(json, "installCommandLine"), "\"update.exe /q /exitcode /norestart\"");
  EXPECT_EQ(Member(json, "@odata.type", json.find("\"rules\"")),
            "\"#microsoft.graph.win32LobAppProductCodeRule\"");
  EXPECT_EQ(Member(json, "ruleType"), "\"detection\"");
  EXPECT_EQ(Member(json, "productCode"), std::string("\"") + kA + "\"");
  EXPECT_EQ(Member(json, "productVersionOperator"), "\"greaterThanOrEqual\"");
  EXPECT_EQ(Member(json, "productVersion"), "\"2.1.30\"");
  const std::string uninstall =
      std::string("\"msiexec /package ") + kA + " MSIPATCHREMOVE=" + kPatch1 + " /qn\"";
  EXPECT_EQ(Member(json, "uninstallCommandLine"), uninstall);
  EXPECT_EQ(Member(json, "uninstallCommandLine", json.find("\"products\"")), uninstall);
  EXPECT_EQ(Member(json, "sha256"), "\"" + std::string(64, 'a') + "\"");
  EXPECT_EQ(Member(json, "size"), "253952");
  EXPECT_EQ(Member(json, "applicableArchitectures"), "\"x86,x64\"");
  EXPECT_FALSE(Contains(json, "scriptContent"));
  EXPECT_EQ(json.back(), '\n');
}

TEST(Descriptor, ReturnCodesCarryTheirTypesForIntuneAndConfigurationManager) {
  const std::string json = DescriptorJson(Update({Patch("IDR_MSP", {kA}, "2.0", kPatch1)}));
  struct Expected {
    int code;
    std::string intune, manager;
  };
  const Expected table[] = {
      {0, "success", "Success"},           {3010, "softReboot", "Soft Reboot"},
      {1641, "hardReboot", "Hard Reboot"}, {1618, "retry", "Fast Retry"},
      {1642, "failed", "Failure"},         {1603, "failed", "Failure"}};
  const std::size_t graph = json.find("\"returnCodes\"");
  const std::size_t ours = json.find("\"returnCodes\"", graph + 1);
  ASSERT_NE(ours, std::string::npos);
  std::size_t inGraph = graph, inOurs = ours;
  for (const Expected& row : table) {
    SCOPED_TRACE(row.code);
    inGraph = json.find("\"returnCode\": " + std::to_string(row.code) + ",", inGraph);
    ASSERT_LT(inGraph, ours) << "in Graph's order";
    EXPECT_EQ(Member(json, "type", inGraph), "\"" + row.intune + "\"");
    inOurs = json.find("\"returnCode\": " + std::to_string(row.code) + ",", inOurs);
    ASSERT_NE(inOurs, std::string::npos);
    EXPECT_EQ(Member(json, "intune", inOurs), "\"" + row.intune + "\"");
    EXPECT_EQ(Member(json, "configurationManager", inOurs), "\"" + row.manager + "\"");
  }
  EXPECT_TRUE(Contains(Member(json, "meaning", json.find("\"returnCode\": 1618", ours)),
                       "try again later"));
  EXPECT_TRUE(
      Contains(Member(json, "meaning", json.find("\"returnCode\": 1642", ours)), "do not retry"));
  EXPECT_TRUE(
      Contains(Member(json, "meaning", json.find("\"returnCode\": 3010", ours)), "schedule"));
  EXPECT_EQ(Member(json, "deviceRestartBehavior"), "\"basedOnReturnCode\"");
  EXPECT_EQ(Member(json, "runAsAccount"), "\"system\"");
}

TEST(Descriptor, SeveralTargetProductsGetOneScriptRuleOverEveryInstalledTarget) {
  // The language pack takes product A further than the global patch: A must reach the higher.
  const std::string json = DescriptorJson(Update({Patch("IDR_MSP", {kA, kB}, "2.0.0.0", kPatch1),
                                                  Patch("IDR_MSP_LP", {kA}, "2.0.1", kPatch2)}));
  EXPECT_EQ(Member(json, "@odata.type", json.find("\"rules\"")),
            "\"#microsoft.graph.win32LobAppPowerShellScriptRule\"");
  EXPECT_EQ(Member(json, "operationType"), "\"notConfigured\"");
  EXPECT_EQ(Member(json, "runAs32Bit"), "false");
  EXPECT_FALSE(Contains(json, "productVersionOperator"));
  const std::string script = DecodedScript(json);
  EXPECT_TRUE(Contains(script, std::string("@('") + kA + "', '2.0.1')")) << script;
  EXPECT_TRUE(Contains(script, std::string("@('") + kB + "', '2.0.0')")) << script;
  EXPECT_TRUE(Contains(script, "ProductState($target[0]) -ne 5) { continue }"));
  EXPECT_TRUE(Contains(script, "ProductInfo($target[0], 'VersionString')"));
  EXPECT_EQ(script, *DetectionScript(Update({Patch("IDR_MSP", {kA, kB}, "2.0.0.0", kPatch1),
                                             Patch("IDR_MSP_LP", {kA}, "2.0.1", kPatch2)})));
  // One uninstall line cannot remove patches from two products: only each product's own line.
  const std::size_t app = json.find("\"win32LobApp\"");
  // The application's members up to its return codes: the uninstall line stands among them.
  const std::string appPart = json.substr(app, json.find("\"returnCodes\"", app + 1) - app);
  EXPECT_FALSE(Contains(appPart, "uninstallCommandLine"));
  EXPECT_EQ(Member(json, "uninstallCommandLine", json.find("\"products\"")),
            std::string("\"msiexec /package ") + kA + " MSIPATCHREMOVE=" + kPatch1 + ";" + kPatch2 +
                " /qn\"");
  EXPECT_EQ(Member(json, "uninstallCommandLine", json.find(std::string("\"") + kB + "\",\n")),
            std::string("\"msiexec /package ") + kB + " MSIPATCHREMOVE=" + kPatch1 + " /qn\"");
}

TEST(Descriptor, WhatNothingValidatedVouchesForIsAbsent) {
  // A patch without a readable patch code: no removal for the products it touches.
  std::string json = DescriptorJson(Update({Patch("IDR_MSP", {kA}, "2.0", std::nullopt)}));
  EXPECT_EQ(Member(json, "uninstallCommandLine"), "<absent>");
  EXPECT_EQ(Member(json, "patchCode"), "<absent>");
  EXPECT_EQ(Member(json, "patchCodes"), "<absent>");
  EXPECT_EQ(Member(json, "productVersion"), "\"2.0.0\"");

  // Payloads carried with --no-validate: their size only; no rule, no product, no removal.
  PayloadFacts unchecked;
  unchecked.resource = "IDR_MSP";
  unchecked.size = 20000;
  json = DescriptorJson(Update({unchecked}));
  for (const char* key : {"rules", "productCode", "uninstallCommandLine", "targetProductCodes",
                          "upgradeVersion", "patchCode"}) {
    EXPECT_EQ(Member(json, key), "<absent>") << key;
  }
  EXPECT_EQ(Member(json, "validated"), "false");
  EXPECT_EQ(Member(json, "size", json.find("\"payloads\"")), "20000");
  EXPECT_EQ(Member(json, "installCommandLine"), "\"update.exe /q /exitcode /norestart\"");
  EXPECT_FALSE(DetectionScript(Update({unchecked})));
}

TEST(Descriptor, FileNamesAreQuotedInTheCommandAndEscapedInTheText) {
  UpdateFacts facts = Update({Patch("IDR_MSP", {kA}, "2.0", kPatch1)}, "Mise \xC3\xA0 jour.exe");
  facts.x64 = true;
  const std::string json = DescriptorJson(facts);
  EXPECT_EQ(Member(json, "installCommandLine"),
            "\"\\\"Mise \\u00e0 jour.exe\\\" /q /exitcode /norestart\"");
  EXPECT_EQ(Member(json, "applicableArchitectures"), "\"x64\"");
  for (unsigned char c : json) EXPECT_LT(c, 0x80);
  EXPECT_FALSE(DescribeUpdate({}, "bad\"name.exe", true));
  EXPECT_FALSE(DescribeUpdate({}, "bad\xC3name.exe", true));
  EXPECT_FALSE(DescribeUpdate({}, "two\nlines.exe", true));
}

TEST(Descriptor, VersionsAreWrittenAsTheUpdaterReadsThem) {
  EXPECT_EQ(VersionText("2.1.30.0"), "2.1.30");
  EXPECT_EQ(VersionText("2"), "2.0.0");
  EXPECT_EQ(VersionText("2,1,5,7"), "2.1.5.7");
  EXPECT_EQ(VersionText("1.65537.0"), "1.1.0");
}

TEST(Descriptor, Sha256IsTheStandardDigest) {
  const std::string abc = "abc";
  EXPECT_EQ(Sha256Hex(std::span(reinterpret_cast<const std::uint8_t*>(abc.data()), 3)),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

packer::ResourceTree Payloads(std::vector<std::pair<std::u16string, std::vector<uint8_t>>> items) {
  packer::ResourceTree tree;
  for (auto& [name, bytes] : items) {
    packer::ResourceData data;
    data.content = std::move(bytes);
    tree[packer::ResourceName::Text(u"MSP")][packer::ResourceName::Text(name)].emplace(
        0, std::move(data));
  }
  tree[packer::ResourceName::Id(24)][packer::ResourceName::Id(1)].emplace(0,
                                                                          packer::ResourceData{});
  return tree;
}

std::vector<uint8_t> PatchBytes(std::map<uint32_t, Value> changes) {
  std::map<uint32_t, Value> properties = GoodSummary();
  for (auto& [id, value] : changes) properties[id] = value;
  return MakePatch(SummaryStream(properties));
}

TEST(Descriptor, PayloadFactsAreReadFromTheCarriedPatches) {
  const auto patch = PatchBytes({{9, std::string(kPatch2) + kPatch1}});  // it obsoletes kPatch1
  const auto other = PatchBytes(
      {{5, std::string("3;2.9.9.9")}, {7, std::string(kB)}, {9, std::string("not a code")}});
  Outcome<std::vector<PayloadFacts>> facts =
      DescribePayloads(Payloads({{u"IDR_MSP_PS", other}, {u"IDR_MSP", patch}}), true);
  ASSERT_TRUE(facts) << facts.error();
  ASSERT_EQ(facts->size(), 2u);
  const PayloadFacts& global = (*facts)[0];
  EXPECT_EQ(global.resource, "IDR_MSP");
  EXPECT_EQ(global.size, patch.size());
  ASSERT_TRUE(global.patch);
  EXPECT_EQ(global.patch->targetProductCodes, (std::vector<std::string>{kA, kB}));
  EXPECT_EQ(global.patch->upgradeVersion, "2.1.30");
  EXPECT_EQ(global.patch->targetVersions, (std::vector<std::string>{"2.0.10", "2.1.0"}));
  EXPECT_EQ(global.patch->patchCode, std::string(kPatch2));
  const PayloadFacts& specific = (*facts)[1];
  EXPECT_EQ(specific.resource, "IDR_MSP_PS");
  ASSERT_TRUE(specific.patch);
  EXPECT_EQ(specific.patch->upgradeVersion, "3.0.0");
  EXPECT_EQ(specific.patch->patchCode, std::nullopt);

  // Unvalidated payloads are not read at all, not even when they are patches.
  facts = DescribePayloads(Payloads({{u"IDR_MSP", patch}}), false);
  ASSERT_TRUE(facts);
  EXPECT_FALSE((*facts)[0].patch);

  // A payload that is no patch in an update said to be validated is an error, not a guess.
  facts = DescribePayloads(Payloads({{u"IDR_MSP", std::vector<uint8_t>(5000, 7)}}), true);
  ASSERT_FALSE(facts);
  EXPECT_TRUE(Contains(facts.error(), "IDR_MSP")) << facts.error();
  EXPECT_FALSE(DescribePayloads(packer::ResourceTree{}, false));
}

}  // namespace
}  // namespace descriptor
