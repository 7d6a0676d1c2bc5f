#include "tools/patch_builder/database_writer.h"

#include <map>

namespace patch_builder {
namespace {

void Put(std::vector<uint8_t>& out, uint32_t v, unsigned width) {
  for (unsigned i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

class Pool {
 public:
  uint32_t Id(const std::string& s) {
    if (s.empty()) return 0;
    const auto [it, added] = ids_.emplace(s, static_cast<uint32_t>(strings_.size() + 1));
    if (added) {
      strings_.push_back(s);
      refs_.push_back(0);
    }
    ++refs_[it->second - 1];
    return it->second;
  }
  void Write(Storage& storage, uint32_t codePage) const {
    std::vector<uint8_t> pool, data;
    Put(pool, codePage, 4);
    for (size_t i = 0; i < strings_.size(); ++i) {
      Put(pool, static_cast<uint32_t>(strings_[i].size()), 2);
      Put(pool, refs_[i], 2);
      data.insert(data.end(), strings_[i].begin(), strings_[i].end());
    }
    storage.streams[EncodeStreamName("_StringPool", true)] = std::move(pool);
    storage.streams[EncodeStreamName("_StringData", true)] = std::move(data);
  }

 private:
  std::map<std::string, uint32_t> ids_;
  std::vector<std::string> strings_;
  std::vector<uint32_t> refs_;
};

}  // namespace

void WriteDatabaseTables(Storage& storage, uint32_t codePage, const std::vector<Table>& tables) {
  Pool pool;
  std::vector<uint8_t> tableList;
  std::vector<uint32_t> columnTable, columnNumber, columnName, columnType;
  for (const Table& t : tables) {
    Put(tableList, pool.Id(t.name), 2);
    for (size_t i = 0; i < t.columns.size(); ++i) {
      columnTable.push_back(pool.Id(t.name));
      columnNumber.push_back(static_cast<uint32_t>(i + 1 + 0x8000));
      columnName.push_back(pool.Id(t.columns[i].name));
      columnType.push_back(t.columns[i].type ^ 0x8000u);
    }
    std::vector<uint8_t> data;
    for (size_t c = 0; c < t.columns.size(); ++c) {
      const Column& column = t.columns[c];
      for (const Row& row : t.rows) {
        const Value& v = row[c];
        if (column.type & kTypeString) {
          Put(data, v.null() ? 0 : pool.Id(v.bytes), 2);
        } else if (column.integerWidth() == 2) {
          Put(data, v.null() ? 0 : static_cast<uint32_t>(v.integer + 0x8000) & 0xFFFF, 2);
        } else {
          Put(data, v.null() ? 0 : static_cast<uint32_t>(v.integer) ^ 0x80000000u, 4);
        }
      }
    }
    storage.streams[EncodeStreamName(t.name, true)] = std::move(data);
  }
  std::vector<uint8_t> columns;
  for (const auto* list : {&columnTable, &columnNumber, &columnName, &columnType})
    for (uint32_t v : *list) Put(columns, v, 2);
  storage.streams[EncodeStreamName("_Tables", true)] = std::move(tableList);
  storage.streams[EncodeStreamName("_Columns", true)] = std::move(columns);
  pool.Write(storage, codePage);
}

}  // namespace patch_builder
