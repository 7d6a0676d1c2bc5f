#include "tools/patch_builder/transform_writer.h"

namespace patch_builder {
namespace {

constexpr uint16_t kCatalogueNameType = kTypeValid | kTypeString | kTypeKey | 64;

const Table& ColumnsLayout() {
  static const Table layout{"_Columns",
                            {{"Table", kCatalogueNameType},
                             {"Number", kTypeValid | kTypeKey | 2},
                             {"Name", kTypeValid | kTypeString | 64},
                             {"Type", kTypeValid | 2}},
                            {}};
  return layout;
}

const Table& TablesLayout() {
  static const Table layout{"_Tables", {{"Name", kCatalogueNameType}}, {}};
  return layout;
}

void Put(std::vector<uint8_t>& out, uint32_t v, unsigned width) {
  for (unsigned i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

uint32_t TransformWriter::Id(const Value& text) const {
  if (text.null() || text.bytes.empty()) return 0;
  return ids_.at(text.bytes);
}

void TransformWriter::Add(const Table& layout, const Row& row, uint16_t mask,
                          std::vector<bool> present) {
  TableRows& rows = tables_[layout.name];
  if (rows.columns.empty()) rows.columns = layout.columns;
  for (size_t i = 0; i < layout.columns.size(); ++i) {
    const Column& c = layout.columns[i];
    const Value& v = row[i];
    if (!present[i] || v.null()) continue;
    if (c.stream()) {
      std::string name = layout.name;
      for (const Value& key : layout.Key(row)) name += "." + key.Display();
      streams_[name] = std::vector<uint8_t>(v.bytes.begin(), v.bytes.end());
    } else if (c.text() && !v.bytes.empty()) {
      // The installer does not tell an empty string from a null one: the pool holds neither.
      const auto [it, added] = ids_.emplace(v.bytes, static_cast<uint32_t>(strings_.size() + 1));
      if (added) {
        strings_.push_back(v.bytes);
        references_.push_back(0);
      }
      ++references_[it->second - 1];
    }
  }
  rows.entries.push_back({mask, row, std::move(present)});
}

void TransformWriter::AddTable(const std::string& table, const std::vector<Column>& columns) {
  Insert(TablesLayout(), {Value::Text(table)});
  AddColumns(table, 1, columns);
}

void TransformWriter::AddColumns(const std::string& table, int firstNumber,
                                 const std::vector<Column>& columns) {
  int number = firstNumber;
  for (const Column& c : columns) {
    Insert(ColumnsLayout(), {Value::Text(table), Value::Integer(number++), Value::Text(c.name),
                             Value::Integer(c.type)});
  }
}

void TransformWriter::Insert(const Table& layout, const Row& row) {
  const size_t n = layout.columns.size();
  Add(layout, row, static_cast<uint16_t>((n << 8) | 1), std::vector<bool>(n, true));
}

void TransformWriter::Update(const Table& layout, const Row& row,
                             const std::vector<bool>& changed) {
  // The mask has 16 bits: a change beyond the 16th column is written as a whole row, which
  // replaces the row of the same key.
  uint32_t mask = 0;
  std::vector<bool> present(layout.columns.size());
  for (size_t i = 0; i < layout.columns.size(); ++i) {
    present[i] = layout.columns[i].key() || changed[i];
    if (changed[i] && !layout.columns[i].key()) {
      if (i >= 16) return Insert(layout, row);
      mask |= 1u << i;
    }
  }
  if (mask != 0) Add(layout, row, static_cast<uint16_t>(mask), std::move(present));
}

void TransformWriter::Delete(const Table& layout, const Row& row) {
  std::vector<bool> present(layout.columns.size());
  for (size_t i = 0; i < layout.columns.size(); ++i) present[i] = layout.columns[i].key();
  Add(layout, row, 0, std::move(present));
}

std::vector<std::string> TransformWriter::TableNames() const {
  std::vector<std::string> names;
  for (const auto& [name, rows] : tables_) names.push_back(name);
  return names;
}

Storage TransformWriter::Finish(std::vector<uint8_t> summary) const {
  Storage storage;
  storage.classId = ClassIdFromText("{000C1082-0000-0000-C000-000000000046}");
  const bool longRefs = strings_.size() >= 0xFFFF;
  const unsigned ref = longRefs ? 3 : 2;

  std::vector<uint8_t> pool, data;
  Put(pool, codePage_ | (longRefs ? 0x80000000u : 0), 4);
  for (size_t i = 0; i < strings_.size(); ++i) {
    const std::string& s = strings_[i];
    const uint32_t refs = references_[i] > 0xFFFF ? 0xFFFF : references_[i];
    if (s.size() > 0xFFFF) {
      // A long string: an entry of length 0 holding the high word, then the low word.
      Put(pool, 0, 2);
      Put(pool, static_cast<uint32_t>(s.size() >> 16), 2);
    }
    Put(pool, static_cast<uint32_t>(s.size() & 0xFFFF), 2);
    Put(pool, refs, 2);
    data.insert(data.end(), s.begin(), s.end());
  }
  storage.streams[EncodeStreamName("_StringPool", true)] = std::move(pool);
  storage.streams[EncodeStreamName("_StringData", true)] = std::move(data);

  for (const auto& [name, rows] : tables_) {
    std::vector<uint8_t> out;
    for (const Entry& e : rows.entries) {
      Put(out, e.mask, 2);
      for (size_t i = 0; i < rows.columns.size(); ++i) {
        if (!e.present[i]) continue;
        const Column& c = rows.columns[i];
        const Value& v = e.row[i];
        if (c.stream()) {
          Put(out, v.null() ? 0 : 1, 2);
        } else if (c.type & kTypeString) {
          Put(out, Id(v), ref);
        } else if (c.integerWidth() == 2) {
          Put(out, v.null() ? 0 : static_cast<uint32_t>(v.integer + 0x8000) & 0xFFFF, 2);
        } else {
          Put(out, v.null() ? 0 : static_cast<uint32_t>(v.integer) ^ 0x80000000u, 4);
        }
      }
    }
    storage.streams[EncodeStreamName(name, true)] = std::move(out);
  }
  for (const auto& [name, bytes] : streams_) storage.streams[EncodeStreamName(name, false)] = bytes;
  storage.streams[u"\005SummaryInformation"] = std::move(summary);
  return storage;
}

}  // namespace patch_builder
