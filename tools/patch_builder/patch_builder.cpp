#include "tools/patch_builder/patch_builder.h"

#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>

#include "tools/patch_builder/cabinet.h"
#include "tools/patch_builder/database_writer.h"
#include "tools/patch_builder/file_locations.h"
#include "tools/patch_builder/msi_database.h"
#include "tools/patch_builder/property_set.h"
#include "tools/patch_builder/storage_writer.h"
#include "tools/patch_builder/table_difference.h"
#include "tools/patch_builder/transform_summary.h"
#include "tools/patch_builder/transform_writer.h"

namespace patch_builder {
namespace {

constexpr int32_t kFilePatchAdded = 0x1000;  // msidbFileAttributesPatchAdded
constexpr char kPatchClass[] = "{000C1086-0000-0000-C000-000000000046}";
constexpr char kMediaSourceProperty[] = "PATCHMediaSrcProp";

struct Build {
  std::string path;
  std::vector<uint8_t> bytes;
  std::optional<Database> db;
  std::map<std::string, std::string> files;  // contents by File key
};

bool Load(Build& build, const std::string& path, std::string& error) {
  build.path = path;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  build.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::string reason;
  build.db = Database::Read(build.bytes, reason);
  if (!build.db) {
    error = path + ": not a usable installer database: " + reason;
    return false;
  }
  for (const char* name : {"ProductCode", "ProductVersion", "UpgradeCode"}) {
    if (!build.db->Property(name)) {
      error = path + ": its Property table has no " + name + " row; a patch needs one";
      return false;
    }
  }
  return true;
}

bool Locate(Build& build, const std::string& folder, std::string& error) {
  if (mkdir(folder.c_str(), 0700) != 0) {
    error = "cannot make the work folder " + folder;
    return false;
  }
  std::string reason;
  auto files = LocateFiles(*build.db, build.path, folder, reason);
  if (!files) {
    error = build.path + ": " + reason;
    return false;
  }
  build.files = std::move(*files);
  return true;
}

int32_t PageCount(const Database& db) {
  return SummaryInteger(db.summaryStream(), pid::kPageCount).value_or(200);
}

// A row of layout with the named fields set and every other field null.
Row MakeRow(const Table& layout, const std::map<std::string, Value>& fields) {
  Row row(layout.columns.size());
  for (const auto& [name, value] : fields) {
    if (const auto at = layout.ColumnIndex(name)) row[*at] = value;
  }
  return row;
}

int32_t LargestOf(const Database& db, const char* table, const char* column) {
  int32_t largest = 0;
  if (const Table* t = db.Find(table)) {
    if (const auto at = t->ColumnIndex(column)) {
      for (const Row& row : t->rows) largest = std::max(largest, row[*at].integer);
    }
  }
  return largest;
}

const Table kPatchPackageLayout{
    "PatchPackage",
    {{"PatchId", kTypeValid | kTypeString | kTypeKey | 38}, {"Media_", kTypeValid | 2}},
    {}};

// What the paired transform of one old build carries.
struct PairedTransformInput {
  const Database& oldDb;
  const Database& newDb;
  const std::vector<const Row*>& changed;           // the new build's File rows, in sequence order
  const std::map<std::string, std::string>& files;  // the new build's contents by File key
  const std::string& patchCode;
  const std::string& family;
  const std::string& cabinetStream;
};

// Writes the paired transform: the patch's medium, its PatchPackage row, the files it carries
// (renumbered after the old build's largest sequence, patch-added) and the properties a patch
// sets; gives the cabinet's files in their sequence order.
bool WritePairedTransform(const PairedTransformInput& in, TransformWriter& pair,
                          std::vector<CabinetFile>& cabinetFiles, std::string& error) {
  const Table* media = in.newDb.Find("Media");
  if (!media) {
    error = "it has no Media table";
    return false;
  }
  const int32_t diskId = LargestOf(in.oldDb, "Media", "DiskId") + 1;
  const int32_t firstSequence = LargestOf(in.oldDb, "File", "Sequence") + 1;
  int32_t next = firstSequence;
  if (const Table* files = in.newDb.Find("File")) {
    const auto sequence = *files->ColumnIndex("Sequence");
    const auto attributes = files->ColumnIndex("Attributes");
    if (!attributes) {
      error = "its File table has no Attributes column";
      return false;
    }
    for (const Row* row : in.changed) {
      Row carried = *row;
      carried[sequence] = Value::Integer(next++);
      const Value& was = carried[*attributes];
      carried[*attributes] = Value::Integer((was.null() ? 0 : was.integer) | kFilePatchAdded);
      pair.Insert(*files, carried);
      const std::string key = (*row)[0].Display();
      cabinetFiles.push_back({key, in.files.at(key)});
    }
  }
  pair.Insert(*media, MakeRow(*media, {{"DiskId", Value::Integer(diskId)},
                                       {"LastSequence", Value::Integer(next - 1)},
                                       {"Cabinet", Value::Text("#" + in.cabinetStream)},
                                       {"Source", Value::Text(kMediaSourceProperty)}}));
  const Table* patchPackage = in.newDb.Find("PatchPackage");
  if (!patchPackage) {
    pair.AddTable(kPatchPackageLayout.name, kPatchPackageLayout.columns);
    patchPackage = &kPatchPackageLayout;
  }
  pair.Insert(*patchPackage, MakeRow(*patchPackage, {{"PatchId", Value::Text(in.patchCode)},
                                                     {"Media_", Value::Integer(diskId)}}));
  if (const Table* property = in.newDb.Find("Property")) {
    const std::vector<std::pair<std::string, std::string>> properties = {
        {"PATCHNEWPACKAGECODE", in.newDb.Summary(pid::kRevisionNumber).value_or("")},
        {"PATCHNEWSUMMARYSUBJECT", in.newDb.Summary(pid::kSubject).value_or("")},
        {"PATCHNEWSUMMARYCOMMENTS", in.newDb.Summary(pid::kComments).value_or("")},
        {in.family + ".PatchCode", in.patchCode},
        {in.family + ".AllowRemoval", "0"},
    };
    for (const auto& [key, value] : properties) {
      if (value.empty()) continue;
      pair.Insert(*property, MakeRow(*property, {{"Property", Value::Text(key)},
                                                 {"Value", Value::Text(value)}}));
    }
  }
  return true;
}

// The patch's own tables: MsiPatchSequence (the family, each target, the new version) and
// MsiPatchMetadata.
std::vector<Table> PatchTables(const std::string& family, const PatchIdentity& identity) {
  Table sequence{"MsiPatchSequence",
                 {{"PatchFamily", kTypeValid | kTypeString | kTypeKey | 72},
                  {"ProductCode", kTypeValid | kTypeString | kTypeKey | kTypeNullable | 38},
                  {"Sequence", kTypeValid | kTypeString | 72},
                  {"Attributes", kTypeValid | kTypeNullable | 4}},
                 {}};
  for (const std::string& product : identity.targetProductCodes)
    sequence.rows.push_back({Value::Text(family), Value::Text(product),
                             Value::Text(identity.newVersion), Value::Null()});
  Table metadata{"MsiPatchMetadata",
                 {{"Company", kTypeValid | kTypeString | kTypeKey | kTypeNullable | 72},
                  {"Property", kTypeValid | kTypeString | kTypeKey | 72},
                  {"Value", kTypeValid | kTypeString | kTypeLocalizable}},
                 {}};
  for (const auto& [property, value] :
       std::vector<std::pair<std::string, std::string>>{{"AllowRemoval", "0"},
                                                        {"DisplayName", identity.displayName},
                                                        {"ManufacturerName", identity.manufacturer},
                                                        {"Classification", "Update"}}) {
    if (!value.empty())
      metadata.rows.push_back({Value::Null(), Value::Text(property), Value::Text(value)});
  }
  return {sequence, metadata};
}

// Loads the new build and the old ones, and refuses old builds whose structure a patch cannot
// change or that share a ProductVersion (two old builds at one version would need one transform
// pair each with the same validation).
bool LoadBuilds(const PatchRequest& request, Build& target, std::vector<Build>& olds,
                std::string& error) {
  if (request.oldPackages.empty()) {
    error = "give at least one old build (--old)";
    return false;
  }
  if (!Load(target, request.newPackage, error)) return false;
  olds.resize(request.oldPackages.size());
  for (size_t i = 0; i < olds.size(); ++i) {
    if (!Load(olds[i], request.oldPackages[i], error)) return false;
  }
  std::set<std::vector<uint32_t>> versions;
  for (const Build& old : olds) {
    if (auto refusal = StructureRefusal(*old.db, *target.db)) {
      error = old.path + " -> " + target.path + ": " + *refusal;
      return false;
    }
    const auto version = ParseVersion(*old.db->Property("ProductVersion"));
    if (version && !versions.insert(*version).second) {
      error = old.path + ": another old build has the same ProductVersion " +
              *old.db->Property("ProductVersion") + "; give each old build once";
      return false;
    }
  }
  return true;
}

// The patch code given, or one derived from the family and the builds' package codes, so that
// the same inputs give the same code.
std::string PatchCodeOf(const PatchRequest& request, const Build& target,
                        const std::vector<Build>& olds) {
  if (request.patchCode) return *request.patchCode;
  const Database& newDb = *target.db;
  std::string seed =
      "quorvex-patch:" + request.family + ":" +
      newDb.Summary(pid::kRevisionNumber).value_or(*newDb.Property("ProductVersion"));
  for (const Build& old : olds)
    seed +=
        ";" + old.db->Summary(pid::kRevisionNumber).value_or(*old.db->Property("ProductVersion"));
  return DerivedGuid(seed);
}

// The new build's added and changed files against old, in the new build's sequence order.
std::vector<const Row*> ChangedFiles(const Build& old, const Build& target) {
  std::vector<const Row*> changed;
  const Table* newFiles = target.db->Find("File");
  if (!newFiles) return changed;
  const auto sequence = *newFiles->ColumnIndex("Sequence");
  for (const Row& row : newFiles->rows) {
    const std::string key = row[0].Display();
    const auto before = old.files.find(key);
    if (before == old.files.end() || !SameContents(before->second, target.files.at(key)))
      changed.push_back(&row);
  }
  std::stable_sort(changed.begin(), changed.end(), [&](const Row* a, const Row* b) {
    return (*a)[sequence].integer < (*b)[sequence].integer;
  });
  return changed;
}

// Why the pair of builds cannot be patched, once their differences are known: nothing differs,
// the versions do not rise, or the code pages differ.
std::optional<std::string> PairRefusal(const Database& oldDb, const Database& newDb,
                                       const Difference& difference, size_t changedFiles) {
  if (difference.rows == 0 && changedFiles == 0)
    return "the two builds hold the same tables and files: there is nothing to patch. Build "
           "the new version from the changed sources.";
  if (auto refusal = VersionRefusal(oldDb, newDb)) return refusal;
  if (oldDb.codePage() != newDb.codePage())
    return "the databases have different code pages (" + std::to_string(oldDb.codePage()) +
           " and " + std::to_string(newDb.codePage()) +
           "); build the new one in the old one's code page.";
  return std::nullopt;
}

// The validation of the main transform, from old to new.
TransformIdentity TransformIdentityOf(const Database& oldDb, const Database& newDb) {
  TransformIdentity t;
  t.oldTemplate = oldDb.Summary(pid::kTemplate).value_or(";1033");
  t.newTemplate = newDb.Summary(pid::kTemplate).value_or(";1033");
  t.oldProductCode = *oldDb.Property("ProductCode");
  t.oldVersion = *oldDb.Property("ProductVersion");
  t.newProductCode = *newDb.Property("ProductCode");
  t.newVersion = *newDb.Property("ProductVersion");
  t.upgradeCode = *newDb.Property("UpgradeCode");
  t.pageCount = std::max(PageCount(oldDb), PageCount(newDb));
  return t;
}

// What the patch holds so far: its storage, what BuildPatch returns, and its identity.
struct PatchUnderWay {
  Storage storage;
  BuiltPatch built;
  PatchIdentity identity;
};

// Puts the transform pair named name and "#"name and the cabinet into the patch, and records
// the pair's target in its identity.
void AddTransformPair(const std::string& name, const TransformIdentity& t, TransformWriter& main,
                      TransformWriter& pair, const std::string& cabinetStream,
                      std::vector<uint8_t> cabinet, PatchUnderWay& patch) {
  const std::string paired = "#" + name;
  patch.storage.streams[EncodeStreamName(cabinetStream, false)] = std::move(cabinet);
  patch.storage.storages[std::u16string(name.begin(), name.end())] =
      main.Finish(TransformSummary(t));
  // The paired transform is applied to the database the main one made: its base is the new
  // build.
  TransformIdentity pairIdentity = t;
  pairIdentity.oldTemplate = t.newTemplate;
  pairIdentity.oldProductCode = t.newProductCode;
  pairIdentity.oldVersion = t.newVersion;
  patch.storage.storages[std::u16string(paired.begin(), paired.end())] =
      pair.Finish(TransformSummary(pairIdentity));
  for (const std::string& n : {name, paired}) {
    Storage file = patch.storage.storages[std::u16string(n.begin(), n.end())];
    patch.built.transforms[n] = WriteCompoundFile(std::move(file));
  }
  PatchIdentity& identity = patch.identity;
  identity.transformNames.push_back(name);
  identity.transformNames.push_back(paired);
  if (std::find(identity.targetProductCodes.begin(), identity.targetProductCodes.end(),
                t.oldProductCode) == identity.targetProductCodes.end())
    identity.targetProductCodes.push_back(t.oldProductCode);
  identity.oldVersions.push_back(t.oldVersion);
}

// Adds the transforms and the cabinet that bring old build number (index + 1) to the new one.
bool AddOldBuild(const PatchRequest& request, size_t index, Build& old, const Build& target,
                 PatchUnderWay& patch, std::string& error) {
  const Database& oldDb = *old.db;
  const Database& newDb = *target.db;
  const std::string context = old.path + " -> " + target.path + ": ";
  if (!Locate(old, request.workFolder + "/old" + std::to_string(index + 1), error)) return false;

  TransformWriter main(newDb.codePage());
  const Difference difference = WriteTableDifference(oldDb, newDb, main);
  if (difference.refusal) {
    error = context + *difference.refusal;
    return false;
  }
  const std::vector<const Row*> changed = ChangedFiles(old, target);
  if (auto refusal = PairRefusal(oldDb, newDb, difference, changed.size())) {
    error = context + *refusal;
    return false;
  }

  const std::string name = "T" + std::to_string(index + 1);
  const std::string cabinetStream = "PatchFiles" + std::to_string(index + 1) + ".cab";
  TransformWriter pair(newDb.codePage());
  std::vector<CabinetFile> cabinetFiles;
  if (!WritePairedTransform({oldDb, newDb, changed, target.files, patch.built.patchCode,
                             request.family, cabinetStream},
                            pair, cabinetFiles, error)) {
    error = target.path + ": " + error;
    return false;
  }
  std::string reason;
  auto cabinet = WriteCabinet(cabinetFiles, request.fileTime, reason);
  if (!cabinet) {
    error = reason;
    return false;
  }
  patch.built.changedFiles = std::max(patch.built.changedFiles, changed.size());
  AddTransformPair(name, TransformIdentityOf(oldDb, newDb), main, pair, cabinetStream,
                   std::move(*cabinet), patch);
  return true;
}

}  // namespace

std::string DerivedGuid(const std::string& text) {
  gchar* hex = g_compute_checksum_for_string(G_CHECKSUM_SHA1, text.c_str(),
                                             static_cast<gssize>(text.size()));
  std::string h(hex);
  g_free(hex);
  for (char& c : h) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  h[12] = '5';  // a name-based GUID (version 5)
  static constexpr char kVariant[] = "89AB";
  h[16] = kVariant[std::stoi(h.substr(16, 1), nullptr, 16) & 3];
  return "{" + h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" +
         h.substr(16, 4) + "-" + h.substr(20, 12) + "}";
}

std::optional<BuiltPatch> BuildPatch(const PatchRequest& request, std::string& error) {
  Build target;
  std::vector<Build> olds;
  if (!LoadBuilds(request, target, olds, error)) return std::nullopt;
  if (!Locate(target, request.workFolder + "/new", error)) return std::nullopt;
  const Database& newDb = *target.db;

  PatchUnderWay patch;
  patch.storage.classId = ClassIdFromText(kPatchClass);
  patch.built.patchCode = PatchCodeOf(request, target, olds);
  PatchIdentity& identity = patch.identity;
  identity.patchCode = patch.built.patchCode;
  identity.newVersion = *newDb.Property("ProductVersion");
  identity.productName = newDb.Property("ProductName").value_or("");
  identity.manufacturer = newDb.Property("Manufacturer").value_or("");
  identity.displayName =
      request.displayName.value_or(identity.productName + " " + identity.newVersion + " patch");

  for (size_t i = 0; i < olds.size(); ++i) {
    if (!AddOldBuild(request, i, olds[i], target, patch, error)) return std::nullopt;
  }
  WriteDatabaseTables(patch.storage, newDb.codePage(), PatchTables(request.family, identity));
  patch.storage.streams[u"\005SummaryInformation"] = PatchSummary(identity);
  patch.built.bytes = WriteCompoundFile(std::move(patch.storage));
  return std::move(patch.built);
}

}  // namespace patch_builder
