#include "tools/packer/payload_file.h"

#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "tools/packer/patch_check.h"

namespace packer {

namespace fs = std::filesystem;

ResourceName PayloadName(const updater::PayloadKind& kind) {
  std::u16string name;
  for (const wchar_t* c = kind.resourceName; *c; ++c) name += static_cast<char16_t>(*c);
  return ResourceName::Text(name);
}

Outcome<Payload> LoadPayload(const updater::PayloadKind& kind, const fs::path& file, bool validate,
                             const std::optional<std::string>& versions, std::ostream& warnings) {
  const std::string named = std::string(kind.packerOption) + " " + PathText(file);
  const std::string where = named + ": ";
  std::error_code error;
  fs::file_status status = fs::status(file, error);
  if (!fs::exists(status)) return Failure{where + "no such file"};
  if (!fs::is_regular_file(status)) return Failure{where + "not a regular file"};
  std::uint64_t size = fs::file_size(file, error);
  if (error) return Failure{where + "cannot read its size: " + error.message()};
  if (size == 0) return Failure{where + "the file is empty"};
  if (!std::ifstream(file, std::ios::binary)) return Failure{where + "cannot be read"};
  Payload payload;
  payload.name = PayloadName(kind);
  payload.language = kind.resourceLanguage;
  payload.data.content = FileContent{file, size};
  if (!validate) return payload;

  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  std::ifstream in(file, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)) ||
      in.peek() != std::ifstream::traits_type::eof()) {
    return Failure{where + "cannot be read whole (did it change?)"};
  }
  PatchVerdict verdict = CheckPatch(named, bytes, versions);
  for (const std::string& warning : verdict.warnings) warnings << "packer: " << warning << "\n";
  if (verdict.refusal) return Failure{*verdict.refusal};
  payload.data.content = verdict.edited ? std::move(*verdict.edited) : std::move(bytes);
  return payload;
}

}  // namespace packer
