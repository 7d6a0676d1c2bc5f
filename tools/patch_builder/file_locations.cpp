#include "tools/patch_builder/file_locations.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>

#include "tools/patch_builder/cabinet.h"

namespace patch_builder {
namespace {

struct Medium {
  int diskId;
  int lastSequence;
  std::string cabinet;
};

std::string Folder(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The long name of a "short|long" name, or the name.
std::string LongName(const std::string& name) {
  const auto bar = name.find('|');
  return bar == std::string::npos ? name : name.substr(bar + 1);
}

// The source side of a DefaultDir value "target:source" (the target when there is no source).
std::string SourceName(const std::string& defaultDir) {
  const auto colon = defaultDir.find(':');
  return LongName(colon == std::string::npos ? defaultDir : defaultDir.substr(colon + 1));
}

bool Safe(const std::string& part) {
  return !part.empty() && part != ".." && part.find('/') == std::string::npos &&
         part.find('\\') == std::string::npos;
}

std::optional<std::string> SourceFolder(const Database& db, const std::string& directory,
                                        std::string& error) {
  const Table* table = db.Find("Directory");
  if (!table || table->columns.size() < 3) {
    error = "it has no Directory table";
    return std::nullopt;
  }
  std::map<std::string, std::pair<std::string, std::string>> rows;  // parent, DefaultDir
  for (const Row& row : table->rows) rows[row[0].Display()] = {row[1].Display(), row[2].Display()};
  std::vector<std::string> parts;
  std::set<std::string> seen;
  std::string at = directory;
  while (true) {
    const auto it = rows.find(at);
    if (it == rows.end() || !seen.insert(at).second) {
      error = "Directory row \"" + at + "\" is missing or its parents form a loop";
      return std::nullopt;
    }
    const auto& [parent, defaultDir] = it->second;
    if (parent.empty() || parent == at) break;  // the root: the folder of the .msi
    const std::string name = SourceName(defaultDir);
    if (name != ".") {
      if (!Safe(name)) {
        error = "Directory row \"" + at + "\" names a folder outside the source tree";
        return std::nullopt;
      }
      parts.push_back(name);
    }
    at = parent;
  }
  std::string path;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) path += "/" + *it;
  return path;
}

// The Media rows, by LastSequence.
std::optional<std::vector<Medium>> ReadMedia(const Database& db, std::string& error) {
  std::vector<Medium> media;
  if (const Table* table = db.Find("Media")) {
    const auto last = table->ColumnIndex("LastSequence");
    const auto cabinet = table->ColumnIndex("Cabinet");
    if (!last || !cabinet) {
      error = "its Media table lacks the LastSequence or Cabinet column";
      return std::nullopt;
    }
    for (const Row& row : table->rows)
      media.push_back({row[0].integer, row[*last].integer, row[*cabinet].Display()});
  }
  std::sort(media.begin(), media.end(),
            [](const Medium& a, const Medium& b) { return a.lastSequence < b.lastSequence; });
  return media;
}

// The path of the medium's cabinet: an embedded one ("#stream") written out as folder.cab, or
// an external one beside the .msi.
std::optional<std::string> CabinetPath(const Database& db, const Medium& m,
                                       const std::string& msiPath, const std::string& folder,
                                       std::string& error) {
  if (m.cabinet[0] != '#') {
    if (!Safe(m.cabinet)) {
      error = "Media row " + std::to_string(m.diskId) + " names a cabinet outside its folder";
      return std::nullopt;
    }
    return Folder(msiPath) + "/" + m.cabinet;
  }
  const auto stream = db.Stream(m.cabinet.substr(1));
  if (!stream) {
    error = "Media row " + std::to_string(m.diskId) + " names the cabinet stream \"" + m.cabinet +
            "\", which the database does not hold";
    return std::nullopt;
  }
  const std::string cabinetPath = folder + ".cab";
  std::ofstream out(cabinetPath, std::ios::binary);
  out.write(reinterpret_cast<const char*>(stream->data()),
            static_cast<std::streamsize>(stream->size()));
  if (!out.flush()) {
    error = "cannot write " + cabinetPath;
    return std::nullopt;
  }
  return cabinetPath;
}

// Each medium's cabinet extracted into workFolder/disk<DiskId>: the extracted files' paths by
// File key, by DiskId.
std::optional<std::map<int, std::map<std::string, std::string>>> ExtractMedia(
    const Database& db, const std::vector<Medium>& media, const std::string& msiPath,
    const std::string& workFolder, std::string& error) {
  std::map<int, std::map<std::string, std::string>> extracted;
  for (const Medium& m : media) {
    if (m.cabinet.empty() || extracted.count(m.diskId)) continue;
    const std::string folder = workFolder + "/disk" + std::to_string(m.diskId);
    if (mkdir(folder.c_str(), 0700) != 0) {
      error = "cannot make the work folder " + folder;
      return std::nullopt;
    }
    const auto cabinetPath = CabinetPath(db, m, msiPath, folder, error);
    if (!cabinetPath) return std::nullopt;
    auto paths = ExtractCabinet(*cabinetPath, folder, error);
    if (!paths) return std::nullopt;
    extracted[m.diskId] = std::move(*paths);
  }
  return extracted;
}

// The path of an uncompressed file in the source tree beside the .msi, which must exist.
std::optional<std::string> UncompressedPath(const Database& db, const std::string& msiPath,
                                            const std::string& key, const std::string& directory,
                                            const std::string& fileName, std::string& error) {
  const auto folder = SourceFolder(db, directory, error);
  if (!folder) return std::nullopt;
  const std::string name = LongName(fileName);
  if (!Safe(name)) {
    error = "File row \"" + key + "\" names a file outside the source tree";
    return std::nullopt;
  }
  const std::string path = Folder(msiPath) + *folder + "/" + name;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "File row \"" + key + "\" is uncompressed, but " + path + " does not exist";
    return std::nullopt;
  }
  return path;
}

}  // namespace

bool SameContents(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0 || sa.st_size != sb.st_size)
    return false;
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::vector<char> ba(1 << 16), bb(1 << 16);
  while (fa && fb) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin()))
      return false;
  }
  return fa.eof() && fb.eof();
}

std::optional<std::map<std::string, std::string>> LocateFiles(const Database& db,
                                                              const std::string& msiPath,
                                                              const std::string& workFolder,
                                                              std::string& error) {
  std::map<std::string, std::string> located;
  const Table* files = db.Find("File");
  if (!files) return located;
  const auto seqColumn = files->ColumnIndex("Sequence");
  const auto componentColumn = files->ColumnIndex("Component_");
  const auto nameColumn = files->ColumnIndex("FileName");
  if (!seqColumn || !componentColumn || !nameColumn) {
    error = "its File table lacks the Sequence, Component_ or FileName column";
    return std::nullopt;
  }
  const auto media = ReadMedia(db, error);
  if (!media) return std::nullopt;
  auto extracted = ExtractMedia(db, *media, msiPath, workFolder, error);
  if (!extracted) return std::nullopt;

  std::map<std::string, std::string> componentDirectory;
  if (const Table* components = db.Find("Component")) {
    const auto directory = components->ColumnIndex("Directory_");
    for (const Row& row : components->rows)
      if (directory) componentDirectory[row[0].Display()] = row[*directory].Display();
  }
  for (const Row& row : files->rows) {
    const std::string key = row[0].Display();
    const int sequence = row[*seqColumn].integer;
    const auto medium = std::find_if(media->begin(), media->end(),
                                     [&](const Medium& m) { return m.lastSequence >= sequence; });
    if (medium == media->end()) {
      error = "File row \"" + key + "\": its sequence " + std::to_string(sequence) +
              " is beyond every Media row's LastSequence";
      return std::nullopt;
    }
    if (!medium->cabinet.empty()) {
      const auto& inCabinet = (*extracted)[medium->diskId];
      const auto it = inCabinet.find(key);
      if (it == inCabinet.end()) {
        error = "File row \"" + key + "\" is not in the cabinet \"" + medium->cabinet +
                "\" its Media row " + std::to_string(medium->diskId) + " names";
        return std::nullopt;
      }
      located[key] = it->second;
      continue;
    }
    auto path =
        UncompressedPath(db, msiPath, key, componentDirectory[row[*componentColumn].Display()],
                         row[*nameColumn].Display(), error);
    if (!path) return std::nullopt;
    located[key] = std::move(*path);
  }
  return located;
}

}  // namespace patch_builder
