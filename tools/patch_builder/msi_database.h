// An installer database (.msi) read whole from its compound file: the string pool, the table
// catalogue (_Tables, _Columns), every table's rows and the streams beside them. Portable; the
// bytes are parsed here, so a damaged or crafted file gives a refusal with a reason, never a
// crash: every string id, column width, row count and stream is checked before use.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/packer/compound_file.h"

namespace patch_builder {

// Column type bits as the catalogue stores them.
inline constexpr uint16_t kTypeSizeMask = 0x00FF;
inline constexpr uint16_t kTypeValid = 0x0100;
inline constexpr uint16_t kTypeLocalizable = 0x0200;
inline constexpr uint16_t kTypeString = 0x0800;
inline constexpr uint16_t kTypeNullable = 0x1000;
inline constexpr uint16_t kTypeKey = 0x2000;
inline constexpr uint16_t kTypeTemporary = 0x4000;

struct Column {
  std::string name;
  uint16_t type = 0;

  bool key() const { return (type & kTypeKey) != 0; }
  // A stream column (binary data kept in a stream named after the row's keys).
  bool stream() const { return (type & ~kTypeNullable) == (kTypeString | kTypeValid); }
  bool text() const { return (type & kTypeString) != 0 && !stream(); }
  // Width in a table stream of this column's integers: 2 or 4 bytes.
  unsigned integerWidth() const { return (type & kTypeSizeMask) <= 2 ? 2 : 4; }
  bool operator==(const Column&) const = default;
};

// One field: null, an integer, a text (bytes in the database's code page) or a stream's bytes.
struct Value {
  enum class Kind : uint8_t { kNull, kInteger, kText, kBytes };
  Kind kind = Kind::kNull;
  int32_t integer = 0;
  std::string bytes;

  static Value Null() { return {}; }
  static Value Integer(int32_t v) { return {Kind::kInteger, v, {}}; }
  static Value Text(std::string t) { return {Kind::kText, 0, std::move(t)}; }
  static Value Bytes(std::string b) { return {Kind::kBytes, 0, std::move(b)}; }
  bool null() const { return kind == Kind::kNull; }
  // The field as the installer prints it in a stream name or a message: decimal or the text.
  std::string Display() const;
  auto operator<=>(const Value&) const = default;
};

using Row = std::vector<Value>;

struct Table {
  std::string name;
  std::vector<Column> columns;
  std::vector<Row> rows;

  // The row's key columns, in column order.
  Row Key(const Row& row) const;
  // Index of the column named name, if any.
  std::optional<size_t> ColumnIndex(std::string_view column) const;
};

class Database {
 public:
  // Reads the database in bytes; nothing, with the reason in error, when it is not one or is
  // damaged. The bytes must outlive the result: Stream reads from them on demand.
  static std::optional<Database> Read(std::span<const uint8_t> bytes, std::string& error);

  uint32_t codePage() const { return codePage_; }
  // Tables in the catalogue's order.
  const std::vector<Table>& tables() const { return tables_; }
  const Table* Find(std::string_view table) const;
  // The value of a Property row, if present and not null.
  std::optional<std::string> Property(std::string_view name) const;
  // A text property of the summary information, if present.
  std::optional<std::string> Summary(uint32_t id) const;
  // The summary information stream as stored (empty when absent).
  const std::vector<uint8_t>& summaryStream() const { return summaryStream_; }
  // The contents of a stream of the root storage that is not a table (an embedded cabinet, named
  // as the Media table's Cabinet column names it without its "#").
  std::optional<std::vector<uint8_t>> Stream(std::string_view name) const;

 private:
  // Sets each stream column of table's rows to the contents of the row's stream, where stored.
  void FillStreamColumns(Table& table, const packer::CompoundFile& file) const;

  uint32_t codePage_ = 0;
  std::vector<Table> tables_;
  std::map<uint32_t, std::string> summary_;
  std::vector<uint8_t> summaryStream_;
  std::optional<packer::CompoundFile> file_;
  std::map<std::string, uint32_t, std::less<>> streams_;  // entry index by decoded name
};

// Stream names inside an installer database: characters of the 64-symbol alphabet packed two to
// a UTF-16 unit; table streams have the prefix 0x4840. Decode gives the name and whether it is a
// table's.
std::u16string EncodeStreamName(std::string_view name, bool table);
std::string DecodeStreamName(std::u16string_view encoded, bool& table);

}  // namespace patch_builder
