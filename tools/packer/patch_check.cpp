#include "tools/packer/patch_check.h"

#include <algorithm>
#include <cstdio>

#include "inspection/four_part_version.h"
#include "tools/packer/compound_file.h"

namespace packer {
namespace {

constexpr std::array<uint8_t, 16> kSummaryFormatId = {
    0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10, 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
constexpr char kPatchClass[] = "{000C1086-0000-0000-C000-000000000046}";
constexpr char kDatabaseClass[] = "{000C1084-0000-0000-C000-000000000046}";
constexpr char kTransformClass[] = "{000C1082-0000-0000-C000-000000000046}";
constexpr char16_t kSummaryStream[] = u"\005SummaryInformation";
constexpr const char16_t* kSignatureStreams[] = {u"\005DigitalSignature",
                                                 u"\005MsiDigitalSignatureEx"};
constexpr char kVersionsForm[] = "--versions \"UPGRADE;TARGET1,TARGET2\"";
constexpr uint16_t kUnicodeCodePage = 1200;

uint32_t Get32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) |
         (static_cast<uint32_t>(b[at + 3]) << 24);
}
void Append32(std::vector<uint8_t>& b, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) b.push_back(static_cast<uint8_t>(v >> shift));
}
void Pad4(std::vector<uint8_t>& b) {
  while (b.size() % 4 != 0) b.push_back(0);
}

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

std::optional<SummaryInformation> SummaryInformation::Parse(std::span<const uint8_t> stream,
                                                            std::string& error) {
  const size_t size = stream.size();
  if (size < 28 || stream[0] != 0xFE || stream[1] != 0xFF) {
    error = "it is not a property set";
    return std::nullopt;
  }
  const uint32_t sectionCount = Get32(stream, 24);
  if (sectionCount == 0 || sectionCount > (size - 28) / 20) {
    error = "its section list is damaged";
    return std::nullopt;
  }
  SummaryInformation info;
  info.header_.assign(stream.begin(), stream.begin() + 24);
  bool found = false;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    Section section;
    std::copy_n(stream.begin() + 28 + 20 * i, 16, section.formatId.begin());
    const uint32_t offset = Get32(stream, 28 + 20 * i + 16);
    if (offset > size || size - offset < 8 || Get32(stream, offset) > size - offset ||
        Get32(stream, offset) < 8) {
      error = "section " + std::to_string(i + 1) + " lies outside the stream";
      return std::nullopt;
    }
    const std::span<const uint8_t> bytes = stream.subspan(offset, Get32(stream, offset));
    section.bytes.assign(bytes.begin(), bytes.end());
    if (!found && section.formatId == kSummaryFormatId) {
      found = true;
      info.summarySection_ = i;
      const uint32_t count = Get32(bytes, 4);
      if (count > (bytes.size() - 8) / 8) {
        error = "its property table is larger than its section";
        return std::nullopt;
      }
      std::vector<uint32_t> offsets;
      for (uint32_t k = 0; k < count; ++k) offsets.push_back(Get32(bytes, 8 + 8 * k + 4));
      std::vector<uint32_t> sorted = offsets;
      sorted.push_back(static_cast<uint32_t>(bytes.size()));
      std::sort(sorted.begin(), sorted.end());
      for (uint32_t k = 0; k < count; ++k) {
        const uint32_t at = offsets[k];
        if (at < 8 + 8 * count || at >= bytes.size() ||
            *std::upper_bound(sorted.begin(), sorted.end(), at) - at < 4) {
          error =
              "property " + std::to_string(Get32(bytes, 8 + 8 * k)) + " lies outside its section";
          return std::nullopt;
        }
        const uint32_t end = *std::upper_bound(sorted.begin(), sorted.end(), at);
        info.properties_.push_back({Get32(bytes, 8 + 8 * k),
                                    std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + end)});
      }
    }
    info.sections_.push_back(std::move(section));
  }
  if (!found) {
    error = "it holds no summary information section";
    return std::nullopt;
  }
  if (info.Type(kCodePage) == 2) {
    for (const Property& p : info.properties_) {
      if (p.id == kCodePage && p.value.size() >= 6) {
        info.codePage_ = static_cast<uint16_t>(p.value[4] | (p.value[5] << 8));
      }
    }
  }
  return info;
}

std::optional<uint16_t> SummaryInformation::Type(uint32_t id) const {
  for (const Property& p : properties_) {
    if (p.id == id) return static_cast<uint16_t>(p.value[0] | (p.value[1] << 8));
  }
  return std::nullopt;
}

std::optional<std::string> SummaryInformation::Text(uint32_t id) const {
  for (const Property& p : properties_) {
    if (p.id != id) continue;
    if (Type(id) != kVtLpstr) return std::nullopt;
    if (p.value.size() < 8) return std::string();
    const std::span<const uint8_t> value(p.value);
    const size_t length = std::min<size_t>(Get32(value, 4), value.size() - 8);
    std::string text;
    if (codePage_ == kUnicodeCodePage) {
      for (size_t i = 0; i + 1 < length; i += 2) {
        const uint16_t unit = static_cast<uint16_t>(value[8 + i] | (value[9 + i] << 8));
        if (unit == 0) break;
        text += unit < 0x100 ? static_cast<char>(unit) : '?';
      }
    } else {
      for (size_t i = 0; i < length && value[8 + i] != 0; ++i)
        text += static_cast<char>(value[8 + i]);
    }
    return text;
  }
  return std::nullopt;
}

std::vector<uint8_t> SummaryInformation::WithKeywords(std::string_view text) const {
  std::vector<uint8_t> keywords;
  Append32(keywords, kVtLpstr);
  if (codePage_ == kUnicodeCodePage) {
    Append32(keywords, static_cast<uint32_t>((text.size() + 1) * 2));
    for (char c : text) {
      keywords.push_back(static_cast<uint8_t>(c));
      keywords.push_back(0);
    }
    keywords.insert(keywords.end(), {0, 0});
  } else {
    Append32(keywords, static_cast<uint32_t>(text.size() + 1));
    keywords.insert(keywords.end(), text.begin(), text.end());
    keywords.push_back(0);
  }
  Pad4(keywords);

  std::vector<Property> properties = properties_;
  const auto existing = std::find_if(properties.begin(), properties.end(),
                                     [](const Property& p) { return p.id == kKeywords; });
  if (existing != properties.end()) {
    existing->value = keywords;
  } else {
    const auto after = std::find_if(properties.begin(), properties.end(),
                                    [](const Property& p) { return p.id > kKeywords; });
    properties.insert(after, Property{kKeywords, keywords});
  }
  std::vector<uint8_t> values;
  std::vector<uint8_t> section;
  const uint32_t tableEnd = 8 + 8 * static_cast<uint32_t>(properties.size());
  std::vector<uint8_t> table;
  for (const Property& p : properties) {
    Append32(table, p.id);
    Append32(table, tableEnd + static_cast<uint32_t>(values.size()));
    values.insert(values.end(), p.value.begin(), p.value.end());
    Pad4(values);
  }
  Append32(section, tableEnd + static_cast<uint32_t>(values.size()));
  Append32(section, static_cast<uint32_t>(properties.size()));
  section.insert(section.end(), table.begin(), table.end());
  section.insert(section.end(), values.begin(), values.end());

  std::vector<uint8_t> out = header_;
  Append32(out, static_cast<uint32_t>(sections_.size()));
  const size_t listEnd = out.size() + 20 * sections_.size();
  std::vector<uint8_t> bodies;
  for (size_t i = 0; i < sections_.size(); ++i) {
    out.insert(out.end(), sections_[i].formatId.begin(), sections_[i].formatId.end());
    Append32(out, static_cast<uint32_t>(listEnd + bodies.size()));
    const std::vector<uint8_t>& body = i == summarySection_ ? section : sections_[i].bytes;
    bodies.insert(bodies.end(), body.begin(), body.end());
    Pad4(bodies);
  }
  out.insert(out.end(), bodies.begin(), bodies.end());
  return out;
}

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
