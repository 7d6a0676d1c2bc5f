// Writes tables as an installer database stores them (not as a transform): the string pool,
// _Tables, _Columns and one stream per table, each stored column by column.
#pragma once

#include <vector>

#include "tools/patch_builder/msi_database.h"
#include "tools/patch_builder/storage_writer.h"

namespace patch_builder {

// Adds the database streams of tables (text columns only or integers; no stream columns) to
// storage.
void WriteDatabaseTables(Storage& storage, uint32_t codePage, const std::vector<Table>& tables);

}  // namespace patch_builder
