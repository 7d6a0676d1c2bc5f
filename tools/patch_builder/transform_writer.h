// Writes a transform: the substorage that changes one installer database into another. Rows are
// written in the installer's transform format (each row a 16-bit mask, then its fields): a mask
// with the low bit set and the column count in the high byte carries a whole row (added, or
// replacing the row of the same key); a mask of the changed columns carries the keys and those
// columns; a mask of 0 carries the keys of a row to delete. Strings are ids into the
// transform's own string pool; stream fields are streams named "Table.key1.key2" beside the
// table streams. Tables and columns the transform adds are rows of _Tables and _Columns.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/patch_builder/msi_database.h"
#include "tools/patch_builder/storage_writer.h"

namespace patch_builder {

class TransformWriter {
 public:
  explicit TransformWriter(uint32_t codePage) : codePage_(codePage) {}

  // The table is new: a row of _Tables and one of _Columns per column.
  void AddTable(const std::string& table, const std::vector<Column>& columns);
  // Columns appended to an existing table, numbered from firstNumber.
  void AddColumns(const std::string& table, int firstNumber, const std::vector<Column>& columns);

  void Insert(const Table& layout, const Row& row);
  // changed[i]: column i carries a new value. Keys are always written.
  void Update(const Table& layout, const Row& row, const std::vector<bool>& changed);
  void Delete(const Table& layout, const Row& row);

  bool empty() const { return tables_.empty(); }
  // The tables the transform touches.
  std::vector<std::string> TableNames() const;

  // The transform's storage with the given summary information.
  Storage Finish(std::vector<uint8_t> summary) const;

 private:
  struct Entry {
    uint16_t mask;
    Row row;
    std::vector<bool> present;
  };
  struct TableRows {
    std::vector<Column> columns;
    std::vector<Entry> entries;
  };

  void Add(const Table& layout, const Row& row, uint16_t mask, std::vector<bool> present);
  uint32_t Id(const Value& text) const;

  uint32_t codePage_;
  std::vector<std::string> strings_;  // in the order of first use; id = index + 1
  std::vector<uint32_t> references_;
  std::map<std::string, uint32_t> ids_;
  std::map<std::string, TableRows> tables_;
  std::map<std::string, std::vector<uint8_t>> streams_;
};

}  // namespace patch_builder
