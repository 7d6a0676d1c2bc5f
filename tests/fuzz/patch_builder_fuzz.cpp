// Any bytes as an installer database for the patch builder's reader: a verdict, never a read out
// of bounds or a run without end; a database that reads differs from itself in nothing and
// passes its own structure rules.
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/patch_builder/msi_database.h"
#include "tools/patch_builder/table_difference.h"
#include "tools/patch_builder/transform_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  std::string error;
  const auto db = patch_builder::Database::Read(bytes, error);
  if (!db) {
    if (error.empty()) std::abort();
    return 0;
  }
  for (const patch_builder::Table& table : db->tables()) {
    for (const patch_builder::Row& row : table.rows) {
      if (row.size() != table.columns.size()) std::abort();
    }
  }
  patch_builder::TransformWriter writer(db->codePage());
  const patch_builder::Difference difference =
      patch_builder::WriteTableDifference(*db, *db, writer);
  if (difference.rows != 0 || difference.refusal || !writer.empty()) std::abort();
  if (patch_builder::StructureRefusal(*db, *db)) std::abort();
  (void)patch_builder::VersionRefusal(*db, *db);
  return 0;
}
