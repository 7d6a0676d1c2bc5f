#include "tools/patch_builder/msi_database.h"

#include <algorithm>
#include <set>

#include "tools/packer/summary_information.h"

namespace patch_builder {
namespace {

constexpr size_t kMaxColumns = 32;  // the installer's limit per table

int Symbol(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 36;
  if (c == '.') return 62;
  if (c == '_') return 63;
  return -1;
}

char SymbolChar(unsigned s) {
  static constexpr char kAlphabet[] =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._";
  return kAlphabet[s & 63];
}

uint32_t Get(std::span<const uint8_t> b, size_t at, unsigned width) {
  uint32_t v = 0;
  for (unsigned i = 0; i < width; ++i) v |= static_cast<uint32_t>(b[at + i]) << (8 * i);
  return v;
}

struct Raw {
  std::vector<std::string> strings;  // index = string id; 0 is null
  unsigned refWidth = 2;
};

std::optional<Raw> ReadStringPool(std::span<const uint8_t> pool, std::span<const uint8_t> data,
                                  uint32_t& codePage, std::string& error) {
  Raw raw;
  raw.strings.emplace_back();
  if (pool.size() < 4 || pool.size() % 4 != 0) {
    error = "its string pool is damaged";
    return std::nullopt;
  }
  const uint32_t header = Get(pool, 0, 4);
  codePage = header & 0x7FFFFFFF;
  raw.refWidth = (header & 0x80000000) ? 3 : 2;
  size_t offset = 0;
  const size_t entries = pool.size() / 4;
  for (size_t i = 1; i < entries; ++i) {
    uint64_t length = Get(pool, 4 * i, 2);
    const uint32_t refs = Get(pool, 4 * i + 2, 2);
    if (length == 0 && refs != 0) {
      // A string of 64 KiB or more: this entry holds the high word of its length, the next one
      // the low word and the reference count.
      if (i + 1 >= entries) {
        error = "its string pool ends inside an entry";
        return std::nullopt;
      }
      ++i;
      length = (static_cast<uint64_t>(refs) << 16) | Get(pool, 4 * i, 2);
    }
    if (length > data.size() - offset) {
      error = "its string pool names more text than it holds";
      return std::nullopt;
    }
    raw.strings.emplace_back(reinterpret_cast<const char*>(data.data()) + offset,
                             static_cast<size_t>(length));
    offset += static_cast<size_t>(length);
  }
  if (raw.strings.size() > (raw.refWidth == 2 ? 0x10000u : 0x1000000u)) {
    error = "its string pool holds more strings than its references can name";
    return std::nullopt;
  }
  return raw;
}

std::optional<std::string> StringAt(const Raw& raw, uint32_t id) {
  if (id >= raw.strings.size()) return std::nullopt;
  return raw.strings[id];
}

unsigned Width(const Column& c, unsigned refWidth) {
  if (c.stream()) return 2;
  if (c.type & kTypeString) return refWidth;
  return c.integerWidth();
}

// The root storage's own entries, in index order: its child tree, walked by the left and right
// links (each entry once, however the links loop).
std::vector<uint32_t> RootEntries(const packer::CompoundFile& file) {
  const auto& entries = file.entries();
  std::vector<uint32_t> rootEntries, pending{entries[0].child};
  std::vector<bool> seenEntry(entries.size(), false);
  while (!pending.empty()) {
    const uint32_t at = pending.back();
    pending.pop_back();
    if (at >= entries.size() || at == 0 || seenEntry[at]) continue;
    seenEntry[at] = true;
    rootEntries.push_back(at);
    pending.push_back(entries[at].left);
    pending.push_back(entries[at].right);
  }
  std::sort(rootEntries.begin(), rootEntries.end());
  return rootEntries;
}

// _Tables: one string column, each name once.
std::optional<std::vector<std::string>> ReadTableNames(const std::vector<uint8_t>& bytes,
                                                       const Raw& raw, std::string& error) {
  const unsigned ref = raw.refWidth;
  if (bytes.size() % ref != 0) {
    error = "its table list is damaged";
    return std::nullopt;
  }
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (size_t at = 0; at < bytes.size(); at += ref) {
    auto name = StringAt(raw, Get(bytes, at, ref));
    if (!name || name->empty() || !seen.insert(*name).second) {
      error = "its table list names a table that is not in its string pool, or twice";
      return std::nullopt;
    }
    names.push_back(*name);
  }
  return names;
}

// Each table's columns by their number.
using Catalogue = std::map<std::string, std::map<int, Column>>;

// _Columns: Table (string), Number (i2), Name (string), Type (i2), stored column by column; each
// row names a table of names.
std::optional<Catalogue> ReadColumns(const std::vector<uint8_t>& bytes, const Raw& raw,
                                     const std::vector<std::string>& names, std::string& error) {
  const unsigned ref = raw.refWidth;
  const size_t rowSize = 2 * ref + 4;
  if (bytes.size() % rowSize != 0) {
    error = "its column list is damaged";
    return std::nullopt;
  }
  const std::set<std::string> known(names.begin(), names.end());
  const size_t columnRows = bytes.size() / rowSize;
  Catalogue catalogue;
  for (size_t r = 0; r < columnRows; ++r) {
    const auto table = StringAt(raw, Get(bytes, r * ref, ref));
    const int number = static_cast<int>(Get(bytes, columnRows * ref + r * 2, 2)) - 0x8000;
    const auto name = StringAt(raw, Get(bytes, columnRows * (ref + 2) + r * ref, ref));
    const uint32_t type = Get(bytes, columnRows * (2 * ref + 2) + r * 2, 2);
    if (!table || !name || name->empty() || number < 1 || number > int{kMaxColumns} || type == 0 ||
        !known.count(*table)) {
      error = "its column list has a row that names no known table, column or type";
      return std::nullopt;
    }
    Column column{*name, static_cast<uint16_t>(type ^ 0x8000)};
    if (!catalogue[*table].emplace(number, column).second) {
      error = "its column list numbers two columns of table " + *table + " alike";
      return std::nullopt;
    }
  }
  return catalogue;
}

// The table's stored columns (temporary ones are not stored), numbered without gaps, the first
// a key.
bool ReadLayout(Table& table, const std::map<int, Column>& columns, std::string& error) {
  int expected = 1;
  for (const auto& [number, column] : columns) {
    if (number != expected++) {
      error = "table " + table.name + " has a gap in its column numbers";
      return false;
    }
    if (column.type & kTypeTemporary) continue;
    table.columns.push_back(column);
  }
  if (table.columns.empty() || !table.columns[0].key()) {
    error = "table " + table.name + " has no columns or no primary key first";
    return false;
  }
  return true;
}

// The table's rows from its stream, stored column by column; stream columns are left null.
bool ReadRows(Table& table, const std::vector<uint8_t>& data, const Raw& raw, std::string& error) {
  const unsigned ref = raw.refWidth;
  size_t width = 0;
  for (const Column& c : table.columns) width += Width(c, ref);
  if (data.size() % width != 0) {
    error = "table " + table.name + " is damaged (its size is not a whole number of rows)";
    return false;
  }
  const size_t count = data.size() / width;
  table.rows.assign(count, Row(table.columns.size()));
  size_t base = 0;
  for (size_t c = 0; c < table.columns.size(); ++c) {
    const Column& column = table.columns[c];
    const unsigned w = Width(column, ref);
    for (size_t r = 0; r < count && !column.stream(); ++r) {
      const uint32_t v = Get(data, base + r * w, w);
      Value& field = table.rows[r][c];
      if (column.type & kTypeString) {
        auto text = StringAt(raw, v);
        if (!text) {
          error = "table " + table.name + " refers to string " + std::to_string(v) +
                  ", which its string pool does not hold";
          return false;
        }
        if (v != 0) field = Value::Text(*text);
      } else if (v != 0) {
        field = Value::Integer(w == 2 ? static_cast<int32_t>(v) - 0x8000
                                      : static_cast<int32_t>(v ^ 0x80000000u));
      }
    }
    base += count * w;
  }
  return true;
}

bool KeysAreUnique(const Table& table, std::string& error) {
  std::set<Row> keys;
  for (const Row& row : table.rows) {
    if (!keys.insert(table.Key(row)).second) {
      error = "table " + table.name + " holds two rows with the same primary key";
      return false;
    }
  }
  return true;
}

}  // namespace

std::u16string EncodeStreamName(std::string_view name, bool table) {
  std::u16string out;
  if (table) out += char16_t{0x4840};
  for (size_t i = 0; i < name.size(); ++i) {
    const int first = Symbol(name[i]);
    if (first < 0) {
      out += static_cast<char16_t>(static_cast<unsigned char>(name[i]));
      continue;
    }
    const int second = i + 1 < name.size() ? Symbol(name[i + 1]) : -1;
    if (second >= 0) {
      out += static_cast<char16_t>(0x3800 + first + (second << 6));
      ++i;
    } else {
      out += static_cast<char16_t>(0x4800 + first);
    }
  }
  return out;
}

std::string DecodeStreamName(std::u16string_view encoded, bool& table) {
  table = !encoded.empty() && encoded[0] == 0x4840;
  if (table) encoded.remove_prefix(1);
  std::string out;
  for (char16_t c : encoded) {
    if (c >= 0x3800 && c < 0x4800) {
      out += SymbolChar(c - 0x3800u);
      out += SymbolChar((c - 0x3800u) >> 6);
    } else if (c >= 0x4800 && c < 0x4840) {
      out += SymbolChar(c - 0x4800u);
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += '?';
    }
  }
  return out;
}

std::string Value::Display() const {
  switch (kind) {
    case Kind::kNull:
      return {};
    case Kind::kInteger:
      return std::to_string(integer);
    case Kind::kText:
    case Kind::kBytes:
      return bytes;
  }
  return {};
}

Row Table::Key(const Row& row) const {
  Row key;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].key()) key.push_back(row[i]);
  }
  return key;
}

std::optional<size_t> Table::ColumnIndex(std::string_view column) const {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name == column) return i;
  }
  return std::nullopt;
}

const Table* Database::Find(std::string_view table) const {
  for (const Table& t : tables_) {
    if (t.name == table) return &t;
  }
  return nullptr;
}

std::optional<std::string> Database::Property(std::string_view name) const {
  const Table* table = Find("Property");
  if (!table || table->columns.size() < 2) return std::nullopt;
  for (const Row& row : table->rows) {
    if (row[0].kind == Value::Kind::kText && row[0].bytes == name && !row[1].null())
      return row[1].Display();
  }
  return std::nullopt;
}

std::optional<std::string> Database::Summary(uint32_t id) const {
  const auto it = summary_.find(id);
  if (it == summary_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::vector<uint8_t>> Database::Stream(std::string_view name) const {
  const auto it = streams_.find(name);
  if (it == streams_.end() || !file_) return std::nullopt;
  return file_->StreamBytes(it->second);
}

std::optional<Database> Database::Read(std::span<const uint8_t> bytes, std::string& error) {
  std::optional<packer::CompoundFile> file = packer::CompoundFile::Read(bytes, error);
  if (!file) return std::nullopt;
  Database db;
  std::map<std::string, uint32_t> tableStreams;
  for (uint32_t index : RootEntries(*file)) {
    const packer::DirectoryEntry& entry = file->entries()[index];
    if (entry.type != packer::DirectoryEntry::Type::kStream) continue;
    if (entry.name == u"\005SummaryInformation") {
      std::string summaryError;
      db.summaryStream_ = file->StreamBytes(index);
      if (auto summary = packer::SummaryInformation::Parse(db.summaryStream_, summaryError)) {
        for (uint32_t id : {2u, 3u, 4u, 5u, 6u, 7u, 9u}) {
          if (auto text = summary->Text(id)) db.summary_[id] = *text;
        }
      }
      continue;
    }
    bool table = false;
    const std::string name = DecodeStreamName(entry.name, table);
    if (table)
      tableStreams[name] = index;
    else
      db.streams_[name] = index;
  }
  auto streamOf = [&](const std::string& name) -> std::vector<uint8_t> {
    const auto it = tableStreams.find(name);
    return it == tableStreams.end() ? std::vector<uint8_t>{} : file->StreamBytes(it->second);
  };
  if (!tableStreams.count("_StringPool")) {
    error = "it is not an installer database (no string pool)";
    return std::nullopt;
  }
  std::optional<Raw> raw =
      ReadStringPool(streamOf("_StringPool"), streamOf("_StringData"), db.codePage_, error);
  if (!raw) return std::nullopt;
  const auto names = ReadTableNames(streamOf("_Tables"), *raw, error);
  if (!names) return std::nullopt;
  auto catalogue = ReadColumns(streamOf("_Columns"), *raw, *names, error);
  if (!catalogue) return std::nullopt;

  for (const std::string& name : *names) {
    Table table;
    table.name = name;
    if (!ReadLayout(table, (*catalogue)[name], error) ||
        !ReadRows(table, streamOf(name), *raw, error))
      return std::nullopt;
    db.FillStreamColumns(table, *file);
    if (!KeysAreUnique(table, error)) return std::nullopt;
    db.tables_.push_back(std::move(table));
  }
  db.file_ = std::move(file);
  return db;
}

void Database::FillStreamColumns(Table& table, const packer::CompoundFile& file) const {
  for (size_t c = 0; c < table.columns.size(); ++c) {
    if (!table.columns[c].stream()) continue;
    for (Row& row : table.rows) {
      // The stream of a row is named after the table and the row's key, joined by ".".
      std::string streamName = table.name;
      for (const Value& key : table.Key(row)) streamName += "." + key.Display();
      const auto it = streams_.find(streamName);
      if (it != streams_.end()) {
        const std::vector<uint8_t> content = file.StreamBytes(it->second);
        row[c] = Value::Bytes(std::string(content.begin(), content.end()));
      }
    }
  }
}

}  // namespace patch_builder
