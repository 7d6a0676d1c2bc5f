// packer: writes an update, the updater stub with the given patch packages as its payloads.
//
//   packer --stub updater.exe [--global FILE] [--language-pack FILE] [--product-specific FILE]
//          [--versions "UPGRADE;TARGET1,TARGET2"] [--no-validate] --output update.exe
//
// Portable C++: builds natively and as a Windows console program. The output depends only on the
// stub and the payloads' bytes. Nothing is left at --output unless the whole update was written.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <variant>
#include <vector>

#include "tools/packer/package.h"
#include "tools/packer/patch_check.h"
#include "tools/packer/payload_file.h"

namespace fs = std::filesystem;
using namespace packer;

namespace {

// The payloads an update can carry, in the order the update holds them, each with the option
// that names its file: the updater's own table.
constexpr const auto& kPayloads = updater::kPayloadKinds;

struct Options {
  std::optional<fs::path> stub;
  std::optional<fs::path> output;
  std::optional<fs::path> payloads[std::size(kPayloads)];  // in the order of kPayloads
  std::optional<std::string> versions;
  bool validate = true;
  bool help = false;
};

// The options other than the payloads'.
struct OptionSpec {
  std::string_view name;
  std::string_view value;  // what the option takes; empty for a switch
  std::string_view help;
  void (*set)(Options&, const fs::path&);
};
constexpr OptionSpec kStubOption = {"--stub", "FILE",
                                    "the updater without payloads (updater.exe of the x86 or x64 "
                                    "build)",
                                    [](Options& o, const fs::path& v) { o.stub = v; }};
constexpr OptionSpec kOtherOptions[] = {
    {"--output", "FILE", "the update to write (replaced when it exists)",
     [](Options& o, const fs::path& v) { o.output = v; }},
    {"--versions", "TEXT", "summary property 5 of the copies carried, e.g. \"2.1.31;2.1.30\"",
     [](Options& o, const fs::path& v) { o.versions = PathText(v); }},
    {"--no-validate", "", "carry the files as they are, without checking their contents",
     [](Options& o, const fs::path&) { o.validate = false; }},
    {"--help", "", "show this text", [](Options& o, const fs::path&) { o.help = true; }},
};

void UsageLine(std::ostream& out, std::string_view name, std::string_view value,
               std::string_view help) {
  std::string left = std::string(name) + (value.empty() ? "" : " " + std::string(value));
  out << "  " << left << std::string(left.size() < 24 ? 24 - left.size() : 1, ' ') << help << "\n";
}

// "the patch for every language (\"IDR_MSP\", language 1033)"
std::string PayloadHelp(const updater::PayloadKind& kind) {
  const std::string language =
      kind.resourceLanguage == 0 ? "neutral" : "language " + std::to_string(kind.resourceLanguage);
  return std::string(kind.packerHelp) + " (" + PayloadName(kind).Describe() + ", " + language + ")";
}

void Usage(std::ostream& out) {
  out << "usage: packer --stub FILE [--global FILE] [--language-pack FILE]\n"
         "              [--product-specific FILE] [--versions TEXT] [--no-validate]\n"
         "              --output FILE\n\n";
  UsageLine(out, kStubOption.name, kStubOption.value, kStubOption.help);
  for (const updater::PayloadKind& kind : kPayloads) {
    UsageLine(out, kind.packerOption, "FILE", PayloadHelp(kind));
  }
  for (const OptionSpec& option : kOtherOptions) {
    UsageLine(out, option.name, option.value, option.help);
  }
}

// "give at least one payload (--global, --language-pack or --product-specific)"
std::string NoPayloadError() {
  std::string text = "give at least one payload (";
  for (std::size_t i = 0; i < std::size(kPayloads); ++i) {
    if (i > 0) text += i + 1 == std::size(kPayloads) ? " or " : ", ";
    text += kPayloads[i].packerOption;
  }
  return text + ")";
}

std::string Text(const fs::path& argument) { return PathText(argument); }

Outcome<Options> ParseOptions(const std::vector<fs::path>& args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = Text(args[i]);
    const OptionSpec* found = arg == kStubOption.name ? &kStubOption : nullptr;
    for (const OptionSpec& option : kOtherOptions) {
      if (arg == option.name) found = &option;
    }
    std::optional<fs::path>* payload = nullptr;
    for (std::size_t k = 0; k < std::size(kPayloads); ++k) {
      if (arg == kPayloads[k].packerOption) payload = &options.payloads[k];
    }
    if (!found && !payload) return Failure{"unknown argument: " + arg};
    if (found && found->value.empty()) {
      found->set(options, {});
      continue;
    }
    if (i + 1 >= args.size())
      return Failure{arg + " needs " + (found ? std::string(found->value) : "FILE")};
    if (found) {
      found->set(options, args[++i]);
    } else {
      *payload = args[++i];
    }
  }
  if (options.help) return options;
  if (!options.stub) return Failure{"--stub FILE is required"};
  if (!options.output) return Failure{"--output FILE is required"};
  if (std::none_of(std::begin(options.payloads), std::end(options.payloads),
                   [](const std::optional<fs::path>& file) { return file.has_value(); })) {
    return Failure{NoPayloadError()};
  }
  if (options.versions && !options.validate) {
    return Failure{"--versions edits and checks the patches, which --no-validate leaves alone"};
  }
  return options;
}

Outcome<std::vector<std::uint8_t>> ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return Failure{PathText(file) + ": cannot be opened"};
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (in.bad()) return Failure{PathText(file) + ": cannot be read"};
  return bytes;
}

// Writes the update beside the output and moves it into place only when it is complete.
Outcome<Done> WriteOutput(const Package& package, const fs::path& output) {
  fs::path partial = output;
  partial += ".partial";
  auto fail = [&](const std::string& message) {
    std::error_code ignored;
    fs::remove(partial, ignored);
    return Failure{PathText(output) + ": " + message};
  };
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!out) return fail("cannot be created");
    Outcome<Done> written = WriteUpdate(package, out);
    if (!written) return fail(written.error());
    out.close();
    if (!out) return fail("cannot be written");
  }
  std::error_code error;
  fs::permissions(partial, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, error);
  fs::rename(partial, output, error);
  if (error) return fail("cannot be replaced: " + error.message());
  return Done{};
}

int Run(const std::vector<fs::path>& args) {
  Outcome<Options> options = ParseOptions(args);
  if (!options) {
    std::cerr << "packer: " << options.error() << "\n";
    Usage(std::cerr);
    return 2;
  }
  if (options->help) {
    Usage(std::cout);
    return 0;
  }
  if (fs::is_directory(*options->output)) {
    std::cerr << "packer: --output names a folder: " << PathText(*options->output) << "\n";
    return 1;
  }

  Outcome<std::vector<std::uint8_t>> stubBytes = ReadWhole(*options->stub);
  if (!stubBytes) {
    std::cerr << "packer: --stub " << stubBytes.error() << "\n";
    return 1;
  }
  Outcome<PeImage> stub = ParsePe(std::move(*stubBytes));
  if (!stub) {
    std::cerr << "packer: --stub " << PathText(*options->stub) << ": " << stub.error() << "\n";
    return 1;
  }

  // A PE32 stub makes an x86 update, which a 32-bit process maps whole. The files' sizes are
  // checked before any is read, the carried contents (which --versions may change) after.
  const Architecture architecture = stub->pe32Plus ? Architecture::kX64 : Architecture::kX86;
  auto overLimit = [&](std::uint64_t total) {
    std::optional<std::string> refusal = CheckPayloadTotal(architecture, total);
    if (refusal) std::cerr << "packer: " << *refusal << "; no update written\n";
    return refusal.has_value();
  };
  if (options->validate) {
    std::uint64_t total = 0;
    for (const std::optional<fs::path>& file : options->payloads) {
      std::error_code error;
      if (file) total += fs::is_regular_file(*file, error) ? fs::file_size(*file, error) : 0;
    }
    if (overLimit(total)) return 1;
  }

  std::vector<Payload> payloads;
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < std::size(kPayloads); ++i) {
    if (!options->payloads[i]) continue;
    Outcome<Payload> payload = LoadPayload(kPayloads[i], *options->payloads[i], options->validate,
                                           options->versions, std::cerr);
    if (!payload) {
      std::cerr << "packer: " << payload.error() << "\n";
      return 1;
    }
    total += std::visit(
        [](const auto& content) -> std::uint64_t {
          if constexpr (std::is_same_v<std::decay_t<decltype(content)>, FileContent>) {
            return content.size;
          } else {
            return content.size();
          }
        },
        payload->data.content);
    payloads.push_back(std::move(*payload));
  }
  if (options->validate && overLimit(total)) return 1;

  Outcome<std::unique_ptr<Package>> package = PlanUpdate(std::move(*stub), std::move(payloads));
  if (!package) {
    std::cerr << "packer: " << package.error() << "\n";
    return 1;
  }
  Outcome<Done> written = WriteOutput(**package, *options->output);
  if (!written) {
    std::cerr << "packer: " << written.error() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Run(std::vector<fs::path>(argv + 1, argv + argc)); }
#else
int main(int argc, char** argv) { return Run(std::vector<fs::path>(argv + 1, argv + argc)); }
#endif
