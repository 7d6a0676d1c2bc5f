#include "tools/patch_builder/storage_writer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace patch_builder {
namespace {

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool NameBefore(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return Upper(a[i]) < Upper(b[i]);
  }
  return false;
}

class Builder {
 public:
  std::vector<packer::DirectoryEntry> entries;
  std::map<uint32_t, std::vector<uint8_t>> contents;

  // Adds the children of storage and gives the index of their tree's root.
  uint32_t AddChildren(Storage& storage) {
    std::vector<std::pair<std::u16string, void*>> children;
    for (auto& [name, bytes] : storage.streams) children.emplace_back(name, &bytes);
    for (auto& [name, sub] : storage.storages) children.emplace_back(name, &sub);
    std::vector<size_t> order(children.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return NameBefore(children[a].first, children[b].first); });
    const size_t streamCount = storage.streams.size();
    std::vector<uint32_t> indices(children.size());
    for (size_t k = 0; k < order.size(); ++k) {
      const size_t i = order[k];
      indices[k] = static_cast<uint32_t>(entries.size());
      packer::DirectoryEntry entry;
      entry.name = children[i].first;
      entries.push_back(entry);
      if (i < streamCount) {
        entries.back().type = packer::DirectoryEntry::Type::kStream;
        auto& bytes = *static_cast<std::vector<uint8_t>*>(children[i].second);
        entries.back().size = bytes.size();
        contents[indices[k]] = std::move(bytes);
      } else {
        auto& sub = *static_cast<Storage*>(children[i].second);
        entries.back().type = packer::DirectoryEntry::Type::kStorage;
        entries.back().classId = sub.classId;
        const uint32_t child = AddChildren(sub);
        entries[indices[k]].child = child;
      }
    }
    if (indices.empty()) return packer::kNoEntry;
    int depth = 0;
    while ((size_t{1} << (depth + 1)) - 1 < indices.size()) ++depth;
    return Link(indices, 0, indices.size(), 0, depth);
  }

 private:
  // Links sorted[from, to) as a balanced tree; the nodes of the deepest level, when it is not
  // the only one, are red, which keeps every path's count of black nodes equal.
  uint32_t Link(const std::vector<uint32_t>& sorted, size_t from, size_t to, int level,
                int deepest) {
    if (from >= to) return packer::kNoEntry;
    const size_t middle = from + (to - from) / 2;
    const uint32_t node = sorted[middle];
    entries[node].color =
        (level == deepest && deepest > 0 && sorted.size() != (size_t{1} << (deepest + 1)) - 1) ? 0
                                                                                               : 1;
    entries[node].left = Link(sorted, from, middle, level + 1, deepest);
    entries[node].right = Link(sorted, middle + 1, to, level + 1, deepest);
    return node;
  }
};

}  // namespace

std::vector<uint8_t> WriteCompoundFile(Storage root) {
  Builder builder;
  packer::DirectoryEntry rootEntry;
  rootEntry.name = u"Root Entry";
  rootEntry.type = packer::DirectoryEntry::Type::kRoot;
  rootEntry.classId = root.classId;
  builder.entries.push_back(rootEntry);
  const uint32_t child = builder.AddChildren(root);
  builder.entries[0].child = child;
  return packer::CompoundFile::FromEntries(std::move(builder.entries), std::move(builder.contents))
      .Write();
}

packer::ClassId ClassIdFromText(const char* text) {
  // Data1, Data2 and Data3 are stored little-endian, the last eight bytes as written.
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string hex;
  for (const char* p = text; *p; ++p) {
    if (std::isxdigit(static_cast<unsigned char>(*p))) hex += *p;
  }
  packer::ClassId id{};
  for (int i = 0; i < 16 && hex.size() == 32; ++i) {
    id[i] = static_cast<uint8_t>(std::strtoul(hex.substr(2 * kOrder[i], 2).c_str(), nullptr, 16));
  }
  return id;
}

}  // namespace patch_builder
