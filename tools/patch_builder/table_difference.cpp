#include "tools/patch_builder/table_difference.h"

#include <map>
#include <set>

namespace patch_builder {
namespace {

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string KeyText(const Row& key) {
  std::string text;
  for (const Value& v : key) text += (text.empty() ? "" : ", ") + v.Display();
  return text;
}

std::map<Row, const Row*> ByKey(const Table& table) {
  std::map<Row, const Row*> rows;
  for (const Row& row : table.rows) rows.emplace(table.Key(row), &row);
  return rows;
}

const Value* Field(const Table& table, const Row& row, const char* column) {
  const auto at = table.ColumnIndex(column);
  return at ? &row[*at] : nullptr;
}

std::string FieldText(const Table& table, const Row& row, const char* column) {
  const Value* v = Field(table, row, column);
  return v ? v->Display() : std::string();
}

}  // namespace

std::optional<std::vector<uint32_t>> ParseVersion(const std::string& text) {
  std::vector<uint32_t> parts;
  size_t at = 0;
  while (true) {
    size_t end = at;
    uint64_t v = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9' && v <= 0xFFFFFFFF)
      v = v * 10 + static_cast<uint64_t>(text[end++] - '0');
    if (end == at || v > 0xFFFFFFFF) return std::nullopt;
    parts.push_back(static_cast<uint32_t>(v));
    if (end == text.size()) break;
    if (text[end] != '.' || parts.size() == 4) return std::nullopt;
    at = end + 1;
  }
  while (parts.size() < 4) parts.push_back(0);
  return parts;
}

std::optional<std::string> StructureRefusal(const Database& oldDb, const Database& newDb) {
  for (const char* code : {"ProductCode", "UpgradeCode"}) {
    const auto before = oldDb.Property(code);
    const auto after = newDb.Property(code);
    if (before == after) continue;
    const std::string change = "Property row " + std::string(code) + ": the old build has " +
                               Quote(before.value_or("")) + ", the new one " +
                               Quote(after.value_or(""));
    if (std::string(code) == "ProductCode")
      return change +
             ". A patch cannot change the product code: that is a major upgrade. Keep the old "
             "ProductCode in the new build to patch it, or ship the new build as a major "
             "upgrade (a full installation that removes the old product).";
    return change +
           ". A patch keeps the product's upgrade code: give the new build the old UpgradeCode.";
  }

  if (const Table* before = oldDb.Find("Component")) {
    const Table* after = newDb.Find("Component");
    const auto afterRows = after ? ByKey(*after) : std::map<Row, const Row*>{};
    for (const Row& row : before->rows) {
      const Row key = before->Key(row);
      const auto it = afterRows.find(key);
      if (it == afterRows.end())
        return "Component row " + Quote(KeyText(key)) +
               " is in the old build but not in the new one. A patch cannot remove a component: "
               "keep it in the new build (it may hold no files), or ship a major upgrade.";
      for (const char* column : {"ComponentId", "KeyPath"}) {
        const std::string was = FieldText(*before, row, column);
        const std::string is = FieldText(*after, *it->second, column);
        if (was != is)
          return "Component row " + Quote(KeyText(key)) + ": its " + column + " changed from " +
                 Quote(was) + " to " + Quote(is) +
                 ". A patch must keep a component's code and key path: restore them, and put "
                 "what changed into a new component with a new code.";
      }
    }
  }

  if (const Table* before = oldDb.Find("File")) {
    const Table* after = newDb.Find("File");
    const auto afterRows = after ? ByKey(*after) : std::map<Row, const Row*>{};
    for (const Row& row : before->rows) {
      const auto it = afterRows.find(before->Key(row));
      if (it == afterRows.end()) continue;  // a file removed with its row is a change a patch makes
      const std::string was = FieldText(*before, row, "Component_");
      const std::string is = FieldText(*after, *it->second, "Component_");
      if (was != is)
        return "File row " + Quote(KeyText(before->Key(row))) + " moved from component " +
               Quote(was) + " to " + Quote(is) +
               ". A patch cannot move a file to another component: keep it in " + Quote(was) +
               ", or add it to " + Quote(is) + " as a new file (a new File key).";
    }
  }

  for (const char* name : {"Feature", "FeatureComponents"}) {
    const Table* before = oldDb.Find(name);
    if (!before) continue;
    const Table* after = newDb.Find(name);
    const auto afterRows = after ? ByKey(*after) : std::map<Row, const Row*>{};
    for (const Row& row : before->rows) {
      if (afterRows.count(before->Key(row))) continue;
      if (std::string(name) == "Feature")
        return "Feature row " + Quote(KeyText(before->Key(row))) +
               " is in the old build but not in the new one. A patch cannot remove a feature: "
               "keep it in the new build (Level 0 hides it), or ship a major upgrade.";
      return "FeatureComponents row " + Quote(KeyText(before->Key(row))) +
             " is in the old build but not in the new one. A patch cannot take a component out "
             "of a feature: keep the row in the new build.";
    }
  }
  return std::nullopt;
}

std::optional<std::string> VersionRefusal(const Database& oldDb, const Database& newDb) {
  const std::string was = oldDb.Property("ProductVersion").value_or("");
  const std::string is = newDb.Property("ProductVersion").value_or("");
  const auto before = ParseVersion(was);
  const auto after = ParseVersion(is);
  if (!before || !after)
    return "Property row ProductVersion: " + Quote(!before ? was : is) +
           " is not a version (up to four numbers with dots); give both builds a ProductVersion.";
  if (*after < *before)
    return "Property row ProductVersion: the new build's " + Quote(is) +
           " is lower than the old build's " + Quote(was) +
           ". A patch only moves a product forward: give the new build a ProductVersion above " +
           Quote(was) + ".";
  if (*after == *before)
    return "Property row ProductVersion: both builds have " + Quote(is) +
           ". The updater counts a product already at the upgrade version as up to date and "
           "would never apply this patch: raise ProductVersion in the new build (a minor "
           "upgrade).";
  return std::nullopt;
}

Difference WriteTableDifference(const Database& oldDb, const Database& newDb,
                                TransformWriter& main) {
  Difference result;
  for (const Table& after : newDb.tables()) {
    if (after.name == "Media") continue;
    const Table* before = oldDb.Find(after.name);
    if (!before) {
      main.AddTable(after.name, after.columns);
      for (const Row& row : after.rows) main.Insert(after, row);
      result.rows += after.rows.size() + 1;
      continue;
    }
    if (before->columns.size() > after.columns.size()) {
      result.refusal = "Table " + Quote(after.name) +
                       " has fewer columns in the new build. A patch can add columns to a "
                       "table, not remove them: keep the old columns.";
      return result;
    }
    for (size_t i = 0; i < before->columns.size(); ++i) {
      if (before->columns[i] == after.columns[i]) continue;
      result.refusal = "Table " + Quote(after.name) + ", column " + Quote(before->columns[i].name) +
                       ": its name, type or key changed in the new build. A patch can only add "
                       "columns at the end of a table: keep the old column as it was.";
      return result;
    }
    if (after.columns.size() > before->columns.size()) {
      main.AddColumns(
          after.name, static_cast<int>(before->columns.size()) + 1,
          std::vector<Column>(after.columns.begin() + static_cast<long>(before->columns.size()),
                              after.columns.end()));
      ++result.rows;
    }
    const auto sequence = after.name == "File" ? after.ColumnIndex("Sequence") : std::nullopt;
    const auto oldRows = ByKey(*before);
    std::set<Row> kept;
    for (const Row& row : after.rows) {
      const Row key = after.Key(row);
      const auto it = oldRows.find(key);
      if (it == oldRows.end()) {
        main.Insert(after, row);
        ++result.rows;
        continue;
      }
      kept.insert(key);
      std::vector<bool> changed(after.columns.size(), false);
      bool any = false;
      for (size_t i = 0; i < after.columns.size(); ++i) {
        const Value none;
        const Value& was = i < it->second->size() ? (*it->second)[i] : none;
        if (sequence && i == *sequence) continue;
        if (!(was == row[i])) changed[i] = any = true;
      }
      if (!any) continue;
      main.Update(after, row, changed);
      ++result.rows;
    }
    for (const Row& row : before->rows) {
      if (kept.count(before->Key(row))) continue;
      main.Delete(*before, row);
      ++result.rows;
    }
  }
  for (const Table& before : oldDb.tables()) {
    if (before.name == "Media" || newDb.Find(before.name)) continue;
    // A table the new build no longer has: its rows go; the table itself stays, empty.
    for (const Row& row : before.rows) main.Delete(before, row);
    result.rows += before.rows.size();
  }
  return result;
}

}  // namespace patch_builder
