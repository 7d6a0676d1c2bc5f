#include "tools/descriptor/descriptor.h"

#include <nettle/base64.h>
#include <nettle/sha2.h>

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "inspection/four_part_version.h"
#include "inspection/summary.h"
#include "tools/common/json_text.h"
#include "tools/packer/compound_file.h"
#include "tools/packer/package.h"
#include "tools/packer/patch_check.h"
#include "tools/packer/pe_image.h"
#include "tools/packer/summary_information.h"

namespace descriptor {
namespace {

using packer::Failure;

constexpr std::uint32_t kPidRevisionNumber = 9;  // a patch's code, then the codes it obsoletes

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string Narrow(const std::wstring& ascii) {
  std::string out;
  for (wchar_t c : ascii) out += static_cast<char>(c);
  return out;
}

updater::FourPartVersion Version(const std::string& text) {
  return updater::FourPartVersion::FromText(Wide(text));
}

bool Less(const updater::FourPartVersion& a, const updater::FourPartVersion& b) {
  return std::tie(a.major, a.minor, a.build, a.revision) <
         std::tie(b.major, b.minor, b.build, b.revision);
}

// A GUID in braces and upper case, the form the installer stores codes in.
bool IsCode(std::string_view text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const char c = text[i];
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

std::string ResourceText(const packer::ResourceName& name) {
  if (!name.named) return std::to_string(name.id);
  std::string text;
  for (char16_t c : name.name) text += c < 0x80 ? static_cast<char>(c) : '?';
  return text;
}

// The patch's facts, read as the updater reads them, from bytes the packer's checks accept.
Outcome<PatchFacts> ReadPatch(const std::string& resource, std::span<const std::uint8_t> bytes) {
  const std::string name = "payload " + resource;
  const packer::PatchVerdict verdict = packer::CheckPatch(name, bytes, std::nullopt);
  if (verdict.refusal) {
    return Failure{*verdict.refusal + " (was the update packaged with --no-validate?)"};
  }
  std::string error;
  std::optional<packer::CompoundFile> file = packer::CompoundFile::Read(bytes, error);
  const std::optional<std::uint32_t> stream =
      file ? file->FindChild(0, u"\005SummaryInformation") : std::nullopt;
  std::optional<packer::SummaryInformation> summary =
      stream ? packer::SummaryInformation::Parse(file->StreamBytes(*stream), error) : std::nullopt;
  if (!summary) return Failure{name + ": the summary information cannot be read: " + error};

  PatchFacts facts;
  for (const std::wstring& code :
       updater::SplitProductCodes(Wide(*summary->Text(packer::SummaryInformation::kTemplate)))) {
    facts.targetProductCodes.push_back(Narrow(code));
  }
  const updater::Outcome<updater::VersionTexts> versions =
      updater::SplitVersionProperty(Wide(*summary->Text(packer::SummaryInformation::kKeywords)));
  if (!versions) return Failure{name + ": summary property 5 has no upgrade version"};
  facts.upgradeVersion = VersionText(Narrow(versions->upgradeVersion));
  const std::wstring targets = versions->targetVersions + L',';
  for (std::size_t start = 0, comma; (comma = targets.find(L',', start)) != std::wstring::npos;
       start = comma + 1) {
    facts.targetVersions.push_back(VersionText(Narrow(targets.substr(start, comma - start))));
  }
  const std::optional<std::string> revision = summary->Text(kPidRevisionNumber);
  if (revision && IsCode(std::string_view(*revision).substr(0, 38))) {
    facts.patchCode = revision->substr(0, 38);
  }
  return facts;
}

// ------------------------------------------------------------------ the products and commands

// A target product with what the update's payloads do to it.
struct Product {
  std::string code;
  updater::FourPartVersion upgrade;  // the highest upgrade version of the payloads for it
  std::vector<std::string> patches;  // their patch codes, in payload order
  bool everyPatchCodeKnown = true;
};

std::vector<Product> Products(const UpdateFacts& facts) {
  std::vector<Product> products;
  for (const PayloadFacts& payload : facts.payloads) {
    if (!payload.patch) continue;
    for (const std::string& code : payload.patch->targetProductCodes) {
      auto found = std::find_if(products.begin(), products.end(),
                                [&](const Product& p) { return p.code == code; });
      if (found == products.end()) {
        products.push_back({code, Version(payload.patch->upgradeVersion), {}, true});
        found = products.end() - 1;
      }
      const updater::FourPartVersion upgrade = Version(payload.patch->upgradeVersion);
      if (Less(found->upgrade, upgrade)) found->upgrade = upgrade;
      if (!payload.patch->patchCode) {
        found->everyPatchCodeKnown = false;
      } else if (std::find(found->patches.begin(), found->patches.end(),
                           *payload.patch->patchCode) == found->patches.end()) {
        found->patches.push_back(*payload.patch->patchCode);
      }
    }
  }
  return products;
}

std::string VersionOf(const updater::FourPartVersion& v) {
  std::string text =
      std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build);
  if (v.revision != 0) text += "." + std::to_string(v.revision);
  return text;
}

// Microsoft's documented removal of patches from one product.
std::optional<std::string> UninstallCommand(const Product& product) {
  if (!product.everyPatchCodeKnown || product.patches.empty()) return std::nullopt;
  std::string patches;
  for (const std::string& patch : product.patches) {
    patches += (patches.empty() ? "" : ";") + patch;
  }
  return "msiexec /package " + product.code + " MSIPATCHREMOVE=" + patches + " /qn";
}

std::string InstallCommand(const std::string& fileName) {
  const bool quote = fileName.find_first_of(" \t&^()") != std::string::npos;
  return (quote ? "\"" + fileName + "\"" : fileName) + " /q /exitcode /norestart";
}

struct ReturnCode {
  int code;
  const char* intune;                // win32LobAppReturnCodeType
  const char* configurationManager;  // the deployment type's code type
  const char* meaning;
};
constexpr ReturnCode kReturnCodes[] = {
    {0, "success", "Success",
     "the update is in place: every installed target product is patched or was already up to "
     "date"},
    {3010, "softReboot", "Soft Reboot",
     "installed; a restart completes it: schedule one (with /norestart the update never "
     "restarts the machine)"},
    {1641, "hardReboot", "Hard Reboot", "installed; the installer started a restart"},
    {1618, "retry", "Fast Retry",
     "another installation was running the whole time the update waited: try again later"},
    {1642, "failed", "Failure",
     "not applicable here: no target product is installed, or an installed one is at a version "
     "the update does not cover; do not retry, a new run changes nothing"},
    {1603, "failed", "Failure",
     "failed: the installer or the update's own step failed; the run log and the installer log "
     "tell why"},
};

// ------------------------------------------------------------------------------- JSON text

// UTF-8 as UTF-16 code units in a wstring, for JsonText; nothing when it is not UTF-8.
std::optional<std::wstring> Utf16Units(const std::string& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80       ? 1
                               : lead >> 5 == 6  ? 2
                               : lead >> 4 == 14 ? 3
                               : lead >> 3 == 30 ? 4
                                                 : 0;
    if (length == 0 || i + length > text.size()) return std::nullopt;
    std::uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if (next >> 6 != 2) return std::nullopt;
      point = point << 6 | (next & 0x3F);
    }
    constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) {
      return std::nullopt;
    }
    if (point >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((point - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(point);
    }
    i += length;
  }
  return out;
}

std::string Json(const std::string& text) { return JsonText(Utf16Units(text).value_or(Wide("?"))); }

// Writes JSON objects and arrays one member a line, in the order given.
class JsonWriter {
 public:
  void Open(const std::string& key, char bracket) {
    Item(key);
    out_ += bracket;
    firsts_.push_back(true);
  }
  void Close(char bracket) {
    const bool empty = firsts_.back();
    firsts_.pop_back();
    if (!empty) out_ += "\n" + std::string(2 * firsts_.size(), ' ');
    out_ += bracket;
  }
  void Text(const std::string& key, const std::string& value) {
    Item(key);
    out_ += Json(value);
  }
  void Number(const std::string& key, std::uint64_t value) {
    Item(key);
    out_ += std::to_string(value);
  }
  void Bool(const std::string& key, bool value) {
    Item(key);
    out_ += value ? "true" : "false";
  }
  std::string Finish() { return out_ + "\n"; }

 private:
  // A member's key (none inside an array) on a line of its own.
  void Item(const std::string& key) {
    if (!firsts_.empty()) {
      out_ += firsts_.back() ? "\n" : ",\n";
      firsts_.back() = false;
      out_ += std::string(2 * firsts_.size(), ' ');
    }
    if (!key.empty()) out_ += Json(key) + ": ";
  }

  std::string out_;
  std::vector<bool> firsts_;
};

void TextList(JsonWriter& json, const std::string& key, const std::vector<std::string>& items) {
  json.Open(key, '[');
  for (const std::string& item : items) json.Text("", item);
  json.Close(']');
}

std::string Base64(const std::string& text) {
  std::string out(BASE64_ENCODE_RAW_LENGTH(text.size()), '\0');
  base64_encode_raw(out.data(), text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
  return out;
}

}  // namespace

std::string VersionText(const std::string& text) { return VersionOf(Version(text)); }

Outcome<std::vector<PayloadFacts>> DescribePayloads(const packer::ResourceTree& tree,
                                                    bool validated) {
  std::vector<PayloadFacts> payloads;
  const auto type = tree.find(packer::ResourceName::Text(packer::kPayloadType));
  if (type == tree.end()) return Failure{"the update carries no payload"};
  for (const auto& [name, languages] : type->second) {
    for (const auto& [language, data] : languages) {
      PayloadFacts payload;
      payload.resource = ResourceText(name);
      payload.size = data.Size();
      if (validated) {
        const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&data.content);
        if (bytes == nullptr) return Failure{"payload " + payload.resource + " is not in memory"};
        Outcome<PatchFacts> patch = ReadPatch(payload.resource, *bytes);
        if (!patch) return patch.failure();
        payload.patch = std::move(*patch);
      }
      payloads.push_back(std::move(payload));
    }
  }
  return payloads;
}

Outcome<UpdateFacts> DescribeUpdate(std::vector<std::uint8_t> bytes, std::string fileName,
                                    bool validated) {
  const bool control = std::any_of(fileName.begin(), fileName.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x20; });
  if (fileName.empty() || control || fileName.find_first_of("\"\\/") != std::string::npos ||
      !Utf16Units(fileName)) {
    return Failure{
        "the update's file name must be a UTF-8 name without control characters, quotes or "
        "slashes"};
  }
  UpdateFacts facts;
  facts.fileName = std::move(fileName);
  facts.size = bytes.size();
  facts.sha256 = Sha256Hex(bytes);
  Outcome<packer::PeImage> image = packer::ParsePe(std::move(bytes));
  if (!image) return Failure{"not an update: " + image.error()};
  facts.x64 = image->pe32Plus;
  Outcome<packer::ResourceTree> tree = packer::ReadResources(*image);
  if (!tree) return Failure{"the update's resources: " + tree.error()};
  Outcome<std::vector<PayloadFacts>> payloads = DescribePayloads(*tree, validated);
  if (!payloads) return payloads.failure();
  facts.payloads = std::move(*payloads);
  return facts;
}

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, bytes.size(), bytes.data());
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&context, sizeof digest, digest);
  std::string hex;
  for (std::uint8_t b : digest) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  return hex;
}

std::optional<std::string> DetectionScript(const UpdateFacts& facts) {
  const std::vector<Product> products = Products(facts);
  if (products.empty()) return std::nullopt;
  std::string targets;
  for (const Product& product : products) {
    targets += "$targets += ,@('" + product.code + "', '" + VersionOf(product.upgrade) + "')\r\n";
  }
  // Versions are compared as the updater compares them: four numbers, "," as ".", each part its
  // leading decimal digits kept to 16 bits, a missing part 0. The installer's own API reads the
  // products (the installer's COM object), as a product-code rule does.
  return "# Detection of the update " + facts.fileName +
         ": installed when every target product\r\n"
         "# present on this machine is at least at the update's version.\r\n"
         "$targets = @()\r\n" +
         targets +
         "function Get-Parts([string]$text) {\r\n"
         "  $parts = @(0, 0, 0, 0)\r\n"
         "  $items = $text.Replace(',', '.').Split('.')\r\n"
         "  for ($i = 0; $i -lt 4 -and $i -lt $items.Count; $i++) {\r\n"
         "    $digits = [regex]::Match($items[$i], '^[0-9]+').Value\r\n"
         "    foreach ($c in $digits.ToCharArray()) {\r\n"
         "      $parts[$i] = ($parts[$i] * 10 + [int][string]$c) % 65536\r\n"
         "    }\r\n"
         "  }\r\n"
         "  return ,$parts\r\n"
         "}\r\n"
         "$installer = New-Object -ComObject WindowsInstaller.Installer\r\n"
         "foreach ($target in $targets) {\r\n"
         "  if ($installer.ProductState($target[0]) -ne 5) { continue }\r\n"
         "  $have = Get-Parts $installer.ProductInfo($target[0], 'VersionString')\r\n"
         "  $want = Get-Parts $target[1]\r\n"
         "  for ($i = 0; $i -lt 4 -and $have[$i] -eq $want[$i]; $i++) { }\r\n"
         "  if ($i -lt 4 -and $have[$i] -lt $want[$i]) { exit 1 }\r\n"
         "}\r\n"
         "Write-Output 'Every installed target is at the update''s version'\r\n"
         "exit 0\r\n";
}

std::string DescriptorJson(const UpdateFacts& facts) {
  const std::vector<Product> products = Products(facts);
  JsonWriter json;
  json.Open("", '{');
  json.Text("descriptor", "Quorvex Updater deployment descriptor");
  json.Number("descriptorVersion", 1);

  json.Open("update", '{');
  json.Text("fileName", facts.fileName);
  json.Number("size", facts.size);
  json.Text("sha256", facts.sha256);
  json.Close('}');

  json.Open("win32LobApp", '{');
  json.Text("@odata.type", "#microsoft.graph.win32LobApp");
  json.Text("setupFilePath", facts.fileName);
  json.Text("installCommandLine", InstallCommand(facts.fileName));
  if (products.size() == 1) {
    if (std::optional<std::string> uninstall = UninstallCommand(products[0])) {
      json.Text("uninstallCommandLine", *uninstall);
    }
  }
  json.Text("applicableArchitectures", facts.x64 ? "x64" : "x86,x64");
  json.Open("installExperience", '{');
  json.Text("@odata.type", "#microsoft.graph.win32LobAppInstallExperience");
  json.Text("runAsAccount", "system");
  json.Text("deviceRestartBehavior", "basedOnReturnCode");
  json.Close('}');
  json.Open("returnCodes", '[');
  for (const ReturnCode& code : kReturnCodes) {
    json.Open("", '{');
    json.Text("@odata.type", "#microsoft.graph.win32LobAppReturnCode");
    json.Number("returnCode", static_cast<std::uint64_t>(code.code));
    json.Text("type", code.intune);
    json.Close('}');
  }
  json.Close(']');
  if (!products.empty()) {
    json.Open("rules", '[');
    json.Open("", '{');
    if (products.size() == 1) {
      json.Text("@odata.type", "#microsoft.graph.win32LobAppProductCodeRule");
      json.Text("ruleType", "detection");
      json.Text("productCode", products[0].code);
      json.Text("productVersionOperator", "greaterThanOrEqual");
      json.Text("productVersion", VersionOf(products[0].upgrade));
    } else {
      json.Text("@odata.type", "#microsoft.graph.win32LobAppPowerShellScriptRule");
      json.Text("ruleType", "detection");
      json.Bool("enforceSignatureCheck", false);
      json.Bool("runAs32Bit", false);
      json.Text("scriptContent", Base64(*DetectionScript(facts)));
      json.Text("operationType", "notConfigured");
      json.Text("operator", "notConfigured");
    }
    json.Close('}');
    json.Close(']');
  }
  json.Close('}');

  json.Open("returnCodes", '[');
  for (const ReturnCode& code : kReturnCodes) {
    json.Open("", '{');
    json.Number("returnCode", static_cast<std::uint64_t>(code.code));
    json.Text("intune", code.intune);
    json.Text("configurationManager", code.configurationManager);
    json.Text("meaning", code.meaning);
    json.Close('}');
  }
  json.Close(']');

  json.Open("products", '[');
  for (const Product& product : products) {
    json.Open("", '{');
    json.Text("productCode", product.code);
    json.Text("upgradeVersion", VersionOf(product.upgrade));
    if (product.everyPatchCodeKnown) TextList(json, "patchCodes", product.patches);
    if (std::optional<std::string> uninstall = UninstallCommand(product)) {
      json.Text("uninstallCommandLine", *uninstall);
    }
    json.Close('}');
  }
  json.Close(']');

  json.Open("payloads", '[');
  for (const PayloadFacts& payload : facts.payloads) {
    json.Open("", '{');
    json.Text("resource", payload.resource);
    json.Number("size", payload.size);
    json.Bool("validated", payload.patch.has_value());
    if (payload.patch) {
      TextList(json, "targetProductCodes", payload.patch->targetProductCodes);
      json.Text("upgradeVersion", payload.patch->upgradeVersion);
      TextList(json, "targetVersions", payload.patch->targetVersions);
      if (payload.patch->patchCode) json.Text("patchCode", *payload.patch->patchCode);
    }
    json.Close('}');
  }
  json.Close(']');
  json.Close('}');
  return json.Finish();
}

}  // namespace descriptor
