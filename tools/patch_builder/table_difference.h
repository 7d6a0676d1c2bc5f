// What a patch may carry from one build of a product to the next, decided from the two databases:
// the refusals (what only a new installation can change), and the table differences written
// into the main transform, rows compared by primary key.
#pragma once

#include <optional>
#include <string>

#include "tools/patch_builder/msi_database.h"
#include "tools/patch_builder/transform_writer.h"

namespace patch_builder {

// Up to four dot-separated numbers; nothing when text is not a version.
std::optional<std::vector<uint32_t>> ParseVersion(const std::string& text);

// The reason a patch cannot bring oldDb to newDb, naming the row and what to do instead; nothing
// when the change is one a patch can carry. Checks codes and the component and feature rules,
// not the versions (VersionRefusal) nor whether anything changed.
std::optional<std::string> StructureRefusal(const Database& oldDb, const Database& newDb);

// The reason the version change from oldDb to newDb cannot be patched (lower, or the same).
std::optional<std::string> VersionRefusal(const Database& oldDb, const Database& newDb);

// Writes into main what changes oldDb into newDb, table by table, except what a patch leaves
// alone: the Media table (the patch brings its own media in the paired transform) and the
// sequence numbers of existing files. Gives the number of rows written, or a refusal for a
// change no transform can make (a column removed or retyped).
struct Difference {
  size_t rows = 0;
  std::optional<std::string> refusal;
};
Difference WriteTableDifference(const Database& oldDb, const Database& newDb,
                                TransformWriter& main);

}  // namespace patch_builder
