#include "tools/packer/patch_check.h"

#include <algorithm>
#include <cstdio>

#include "inspection/four_part_version.h"
#include "tools/packer/compound_file.h"

namespace packer {
namespace {

constexpr char kPatchClass[] = "{000C1086-0000-0000-C000-000000000046}";
constexpr char kDatabaseClass[] = "{000C1084-0000-0000-C000-000000000046}";
constexpr char kTransformClass[] = "{000C1082-0000-0000-C000-000000000046}";
constexpr char16_t kSummaryStream[] = u"\005SummaryInformation";
constexpr const char16_t* kSignatureStreams[] = {u"\005DigitalSignature",
                                                 u"\005MsiDigitalSignatureEx"};
constexpr char kVersionsForm[] = "--versions \"UPGRADE;TARGET1,TARGET2\"";

// A text for messages, in quotes, with bytes outside printable ASCII as \xNN.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02X", c);
      out += code;
    }
  }
  return out + "\"";
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(separator, start);
    parts.emplace_back(text.substr(start, at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

bool IsProductCode(std::string_view text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const char c = text[i];
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

// A warning when the updater's reading of a version differs from the four numbers written: too
// many parts, a part that is not a plain decimal number up to 65535, or a part the reading drops.
std::optional<std::string> VersionWarning(const std::string& what, const std::string& text) {
  const updater::FourPartVersion read =
      updater::FourPartVersion::FromText(std::wstring(text.begin(), text.end()));
  const std::vector<std::string> parts = Split(text, '.');
  bool faithful = parts.size() <= 4;
  uint32_t written[4] = {0, 0, 0, 0};
  for (size_t i = 0; faithful && i < parts.size(); ++i) {
    const std::string& part = parts[i];
    faithful = !part.empty() && part.size() <= 5 &&
               std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (faithful) written[i] = static_cast<uint32_t>(std::stoul(part));
    faithful = faithful && written[i] <= 0xFFFF;
  }
  if (faithful && read.major == written[0] && read.minor == written[1] &&
      read.build == written[2] && read.revision == written[3]) {
    return std::nullopt;
  }
  return "summary property 5: " + what + " " + Quoted(text) + " is read as " +
         Narrow(read.ToText());
}

// The checks of property 7 and property 5 on a readable summary.
void CheckSummary(const SummaryInformation& summary, bool versionsGiven, PatchVerdict& verdict) {
  const std::optional<std::string> targets = summary.Text(SummaryInformation::kTemplate);
  if (!summary.Type(SummaryInformation::kTemplate)) {
    verdict.refusal = "summary property 7 (the target product codes) is missing";
    return;
  }
  if (!targets) {
    verdict.refusal = "summary property 7 (the target product codes) is not a text (type " +
                      std::to_string(*summary.Type(SummaryInformation::kTemplate)) + ")";
    return;
  }
  if (targets->empty()) {
    verdict.refusal = "summary property 7 (the target product codes) is empty";
    return;
  }
  const std::vector<std::string> codes = Split(*targets, ';');
  for (size_t i = 0; i < codes.size(); ++i) {
    if (!IsProductCode(codes[i])) {
      verdict.refusal = "summary property 7 (the target product codes): entry " +
                        std::to_string(i + 1) + " " + Quoted(codes[i]) +
                        " is not a product code in braces and upper case, such as "
                        "{8A2F6C1E-3B4D-4E5F-9A0B-1C2D3E4F5A6B}; entries are separated by \";\"";
      return;
    }
  }

  const std::string hint =
      versionsGiven ? std::string() : std::string("; give them with ") + kVersionsForm;
  if (!summary.Type(SummaryInformation::kKeywords)) {
    verdict.refusal =
        "summary property 5 (the upgrade version, \";\", the target versions) is missing" + hint;
    return;
  }
  const std::optional<std::string> keywords = summary.Text(SummaryInformation::kKeywords);
  if (!keywords) {
    verdict.refusal =
        "summary property 5 (the upgrade version, \";\", the target versions) is "
        "not a text (type " +
        std::to_string(*summary.Type(SummaryInformation::kKeywords)) + ")" + hint;
    return;
  }
  const size_t separator = keywords->find(';');
  if (separator == std::string::npos) {
    verdict.refusal = "summary property 5 " + Quoted(*keywords) +
                      " has no \";\" between the upgrade version and the target versions" + hint;
    return;
  }
  if (separator == 0) {
    verdict.refusal = "summary property 5 " + Quoted(*keywords) +
                      " begins with \";\": the upgrade version is missing";
    return;
  }
  if (auto w = VersionWarning("the upgrade version", keywords->substr(0, separator))) {
    verdict.warnings.push_back(*w);
  }
  for (const std::string& target : Split(keywords->substr(separator + 1), ',')) {
    if (auto w = VersionWarning("the target version", target)) verdict.warnings.push_back(*w);
  }
}

}  // namespace

PatchVerdict CheckPatch(std::string_view name, std::span<const uint8_t> bytes,
                        const std::optional<std::string>& versions) {
  PatchVerdict verdict;
  const std::string prefix = std::string(name) + ": ";
  auto refuse = [&](const std::string& reason) {
    verdict.refusal = prefix + reason;
    verdict.edited.reset();
    return verdict;
  };
  if (versions) {
    for (unsigned char c : *versions) {
      if (c < 0x20 || c >= 0x7F)
        return refuse("--versions " + Quoted(*versions) +
                      " holds a character that is not printable ASCII");
    }
  }

  std::string error;
  std::optional<CompoundFile> file = CompoundFile::Read(bytes, error);
  if (!file) return refuse("not a patch package: " + error);
  const std::string rootClass = ClassIdText(file->root().classId);
  if (rootClass != kPatchClass) {
    std::string kind = "a compound file of class " + rootClass;
    if (rootClass == kDatabaseClass) kind = "an installer database (.msi, class " + rootClass + ")";
    if (rootClass == kTransformClass) kind = "a transform (.mst, class " + rootClass + ")";
    return refuse("not a patch package but " + kind + "; a patch (.msp) has the class " +
                  kPatchClass);
  }
  const std::optional<uint32_t> stream = file->FindChild(0, kSummaryStream);
  if (!stream || file->entries()[*stream].type != DirectoryEntry::Type::kStream) {
    return refuse("the patch has no summary information (no \\005SummaryInformation stream)");
  }
  std::optional<SummaryInformation> summary =
      SummaryInformation::Parse(file->StreamBytes(*stream), error);
  if (!summary) return refuse("the summary information cannot be read: " + error);

  std::optional<CompoundFile> editedFile;
  std::vector<uint8_t> editedBytes;
  if (versions) {
    for (const char16_t* signature : kSignatureStreams) {
      if (file->FindChild(0, signature)) {
        verdict.warnings.push_back(prefix +
                                   "warning: the patch is digitally signed; setting its summary "
                                   "property 5 with --versions invalidates the signature of the "
                                   "copy carried (sign the patch again after the edit to keep it)");
        break;
      }
    }
    file->ReplaceStream(*stream, summary->WithKeywords(*versions));
    editedBytes = file->Write();
    // The copy is checked as it will be carried: read back from its own bytes.
    editedFile = CompoundFile::Read(editedBytes, error);
    if (!editedFile) return refuse("the copy with property 5 set cannot be read back: " + error);
    const std::optional<uint32_t> editedStream = editedFile->FindChild(0, kSummaryStream);
    summary = editedStream
                  ? SummaryInformation::Parse(editedFile->StreamBytes(*editedStream), error)
                  : std::nullopt;
    if (!summary) return refuse("the copy with property 5 set cannot be read back: " + error);
  }

  PatchVerdict checked;
  CheckSummary(*summary, versions.has_value(), checked);
  if (checked.refusal) return refuse(*checked.refusal);
  for (const std::string& warning : checked.warnings) {
    verdict.warnings.push_back(prefix + "warning: " + warning);
  }
  if (versions) verdict.edited = std::move(editedBytes);
  return verdict;
}

uint64_t PayloadLimit(Architecture architecture) {
  constexpr uint64_t kMiB = 1024 * 1024;
  // x64: the image size is a 32-bit field of the PE format; the stub needs far less than the
  // 16 MiB kept for it.
  return architecture == Architecture::kX86 ? 1024 * kMiB : 4096 * kMiB - 16 * kMiB;
}

std::optional<std::string> CheckPayloadTotal(Architecture architecture, uint64_t total) {
  const uint64_t limit = PayloadLimit(architecture);
  if (total <= limit) return std::nullopt;
  const std::string arch = architecture == Architecture::kX86 ? "x86" : "x64";
  std::string reason = "the payloads total " + std::to_string(total) + " bytes, more than the " +
                       std::to_string(limit) + " bytes an " + arch + " update can carry";
  if (architecture == Architecture::kX86) {
    reason +=
        " (a 32-bit process maps the whole update as one image in its 2 GB address space, "
        "beside the system libraries); split the payloads over several updates";
  }
  return reason;
}

}  // namespace packer
