// packer: writes an update, the updater stub with the given patch packages as its payloads.
//
//   packer --stub updater.exe [--global FILE] [--language-pack FILE] [--product-specific FILE]
//          [--versions "UPGRADE;TARGET1,TARGET2"] [--no-validate] --output update.exe
//
// Portable C++: builds natively and as a Windows console program. The output depends only on the
// stub and the payloads' bytes. Nothing is left at --output unless the whole update was written.
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

struct Options {
  std::optional<fs::path> stub;
  std::optional<fs::path> output;
  std::optional<fs::path> payloads[3];  // in the order of kKinds
  std::optional<std::string> versions;
  bool validate = true;
  bool help = false;
};

constexpr PayloadKind kKinds[] = {
    {"--global", u"IDR_MSP", 1033},
    {"--language-pack", u"IDR_MSP_LP", 0},
    {"--product-specific", u"IDR_MSP_PS", 0},
};

struct OptionSpec {
  std::string_view name;
  std::string_view value;  // what the option takes; empty for a switch
  std::string_view help;
  void (*set)(Options&, const fs::path&);
};
constexpr OptionSpec kOptions[] = {
    {"--stub", "FILE", "the updater without payloads (updater.exe of the x86 or x64 build)",
     [](Options& o, const fs::path& v) { o.stub = v; }},
    {"--global", "FILE", "the patch for every language (\"IDR_MSP\", language 1033)",
     [](Options& o, const fs::path& v) { o.payloads[0] = v; }},
    {"--language-pack", "FILE", "the language pack's patch (\"IDR_MSP_LP\", neutral)",
     [](Options& o, const fs::path& v) { o.payloads[1] = v; }},
    {"--product-specific", "FILE", "the product-specific patch (\"IDR_MSP_PS\", neutral)",
     [](Options& o, const fs::path& v) { o.payloads[2] = v; }},
    {"--output", "FILE", "the update to write (replaced when it exists)",
     [](Options& o, const fs::path& v) { o.output = v; }},
    {"--versions", "TEXT", "summary property 5 of the copies carried, e.g. \"2.1.31;2.1.30\"",
     [](Options& o, const fs::path& v) { o.versions = PathText(v); }},
    {"--no-validate", "", "carry the files as they are, without checking their contents",
     [](Options& o, const fs::path&) { o.validate = false; }},
    {"--help", "", "show this text", [](Options& o, const fs::path&) { o.help = true; }},
};

void Usage(std::ostream& out) {
  out << "usage: packer --stub FILE [--global FILE] [--language-pack FILE]\n"
         "              [--product-specific FILE] [--versions TEXT] [--no-validate]\n"
         "              --output FILE\n\n";
  for (const OptionSpec& option : kOptions) {
    std::string left =
        std::string(option.name) + (option.value.empty() ? "" : " " + std::string(option.value));
    out << "  " << left << std::string(left.size() < 24 ? 24 - left.size() : 1, ' ') << option.help
        << "\n";
  }
}

std::string Text(const fs::path& argument) { return PathText(argument); }

Outcome<Options> ParseOptions(const std::vector<fs::path>& args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = Text(args[i]);
    const OptionSpec* found = nullptr;
    for (const OptionSpec& option : kOptions) {
      if (arg == option.name) found = &option;
    }
    if (!found) return Failure{"unknown argument: " + arg};
    if (found->value.empty()) {
      found->set(options, {});
      continue;
    }
    if (i + 1 >= args.size()) return Failure{arg + " needs " + std::string(found->value)};
    found->set(options, args[++i]);
  }
  if (options.help) return options;
  if (!options.stub) return Failure{"--stub FILE is required"};
  if (!options.output) return Failure{"--output FILE is required"};
  if (!options.payloads[0] && !options.payloads[1] && !options.payloads[2]) {
    return Failure{"give at least one payload (--global, --language-pack or --product-specific)"};
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
  for (std::size_t i = 0; i < std::size(kKinds); ++i) {
    if (!options->payloads[i]) continue;
    Outcome<Payload> payload = LoadPayload(kKinds[i], *options->payloads[i], options->validate,
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
