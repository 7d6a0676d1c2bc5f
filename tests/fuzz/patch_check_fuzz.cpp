// Any bytes as a patch package: the compound-file reader and the checks give a verdict and never
// read out of bounds or run without end; a file that reads is written anew to the same streams; a
// copy edited with --versions reads back with that text as property 5.
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/packer/compound_file.h"
#include "tools/packer/patch_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  std::string error;
  if (const std::optional<packer::CompoundFile> file = packer::CompoundFile::Read(bytes, error)) {
    const std::vector<uint8_t> written = file->Write();
    const std::optional<packer::CompoundFile> again = packer::CompoundFile::Read(written, error);
    if (!again || again->reachable() != file->reachable()) std::abort();
    for (uint32_t index : file->reachable()) {
      if (file->entries()[index].type == packer::DirectoryEntry::Type::kStream &&
          file->StreamBytes(index) != again->StreamBytes(index)) {
        std::abort();
      }
    }
  } else if (error.empty()) {
    std::abort();
  }

  const packer::PatchVerdict plain = packer::CheckPatch("f.msp", bytes, std::nullopt);
  if (plain.edited || (plain.refusal && plain.refusal->rfind("f.msp: ", 0) != 0)) std::abort();
  const std::string versions = "3.0.0.0;2.0.0.0";
  const packer::PatchVerdict edited = packer::CheckPatch("f.msp", bytes, versions);
  if (edited.refusal.has_value() == edited.edited.has_value()) std::abort();
  if (edited.edited) {
    const std::optional<packer::CompoundFile> copy =
        packer::CompoundFile::Read(*edited.edited, error);
    if (!copy) std::abort();
    const std::optional<uint32_t> stream = copy->FindChild(0, u"\005SummaryInformation");
    if (!stream) std::abort();
    const std::optional<packer::SummaryInformation> summary =
        packer::SummaryInformation::Parse(copy->StreamBytes(*stream), error);
    if (!summary || summary->Text(packer::SummaryInformation::kKeywords) != versions) std::abort();
  }
  return 0;
}
