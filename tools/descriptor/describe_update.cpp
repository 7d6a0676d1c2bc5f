// describe-update: writes the deployment descriptor of a finished (signed) update.
//
//   describe-update --update FILE [--name NAME] [--no-validate] --output FILE.json
//
// NAME is the update's file name where it is installed from (default: FILE's). --no-validate
// says that the packer carried the payloads unchecked: nothing of their contents is then read or
// written. The output is written beside itself and moved into place only when complete.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "tools/descriptor/descriptor.h"
#include "tools/packer/package.h"

namespace fs = std::filesystem;

namespace {

constexpr char kUsage[] =
    "usage: describe-update --update FILE [--name NAME] [--no-validate] --output FILE.json\n";

int Fail(const std::string& message) {
  std::cerr << "describe-update: " << message << "\n";
  return 1;
}

int Run(const std::vector<std::string>& args) {
  std::optional<fs::path> update, output;
  std::optional<std::string> name;
  bool validated = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--no-validate") {
      validated = false;
      continue;
    }
    if ((arg == "--update" || arg == "--name" || arg == "--output") && i + 1 < args.size()) {
      const std::string& value = args[++i];
      if (arg == "--update") update = value;
      if (arg == "--name") name = value;
      if (arg == "--output") output = value;
      continue;
    }
    std::cerr << "describe-update: unknown or incomplete argument: " << arg << "\n" << kUsage;
    return 2;
  }
  if (!update || !output) {
    std::cerr << kUsage;
    return 2;
  }

  std::error_code error;
  const std::uintmax_t size = fs::file_size(*update, error);
  std::ifstream in(*update, std::ios::binary);
  if (error || !in) return Fail(packer::PathText(*update) + ": cannot be opened");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)) ||
      in.peek() != std::ifstream::traits_type::eof()) {
    return Fail(packer::PathText(*update) + ": cannot be read whole");
  }
  descriptor::Outcome<descriptor::UpdateFacts> facts = descriptor::DescribeUpdate(
      std::move(bytes), name ? *name : packer::PathText(update->filename()), validated);
  if (!facts) return Fail(packer::PathText(*update) + ": " + facts.error());
  const std::string text = descriptor::DescriptorJson(*facts);

  fs::path partial = *output;
  partial += ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      fs::remove(partial, error);
      return Fail(packer::PathText(*output) + ": cannot be written");
    }
  }
  fs::rename(partial, *output, error);
  if (error) {
    fs::remove(partial, error);
    return Fail(packer::PathText(*output) + ": cannot be replaced");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
