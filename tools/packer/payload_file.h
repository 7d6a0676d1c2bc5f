// A payload file as the packer carries it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include "payload/payload_kinds.h"
#include "tools/packer/outcome.h"
#include "tools/packer/package.h"

namespace packer {

// The name of the resource of type "MSP" that carries a payload of this kind.
ResourceName PayloadName(const updater::PayloadKind& kind);

// Every payload passes here before anything is written. With validate, the file is read whole and
// checked as a patch package (refusals name the option and the file; warnings go to warnings, one
// a line, each after "packer: "), and the bytes checked are the bytes carried: a file that changes
// after its check cannot reach the update unchecked. That holds the payload in memory until the
// update is written, as the check needs it whole anyway. With versions, the checked copy with its
// summary property 5 set is carried instead. Without validate the file is streamed into the update
// unread, when the update is written.
Outcome<Payload> LoadPayload(const updater::PayloadKind& kind, const std::filesystem::path& file,
                             bool validate, const std::optional<std::string>& versions,
                             std::ostream& warnings);

}  // namespace packer
