// patch_builder: writes a whole-file patch package (.msp) that brings installed old builds of a
// product to a new build. Run with --help for the options; scripts/build-patch builds and runs it.
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "tools/patch_builder/patch_builder.h"

namespace {

const char kUsage[] =
    "usage: patch_builder --old OLD.msi [--old OLD2.msi ...] --new NEW.msi --output OUT.msp\n"
    "                     [--patch-code GUID] [--family NAME] [--display-name TEXT]\n"
    "                     [--transforms-to FOLDER]\n"
    "  --old            an installed build the patch brings to NEW (repeatable)\n"
    "  --patch-code     the patch's code (default: derived from the packages' codes)\n"
    "  --family         the MsiPatchSequence family (default \"Updates\")\n"
    "  --display-name   MsiPatchMetadata DisplayName (default \"<ProductName> <version> patch\")\n"
    "  --transforms-to  also write each transform as FOLDER/<name>.mst, for inspection\n"
    "SOURCE_DATE_EPOCH, when set, dates the files of the patch's cabinets; the same inputs then\n"
    "give the same bytes.\n";

// Messages quote names read from the packages: bytes that are not printable ASCII are written
// as \xNN, so that a hostile package cannot send control sequences to the terminal.
int Fail(const std::string& message) {
  std::string text;
  for (unsigned char c : message) {
    if (c == '\n' || (c >= 0x20 && c < 0x7F)) {
      text += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  std::fprintf(stderr, "build-patch: %s\n", text.c_str());
  return 1;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return std::remove(path);
}

// A private folder removed with all it holds when the builder ends.
class WorkFolder {
 public:
  WorkFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/patch_builder.XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~WorkFolder() {
    if (!path_.empty()) nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Writes bytes to path through a temporary file beside it, renamed into place once whole, so
// that nothing stands at path unless the whole file was written.
bool WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  const auto slash = path.rfind('/');
  std::string temp = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) +
                     "/.patch_builder.XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = "cannot write into the folder of " + path + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool whole = done == bytes.size() && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  if (close(fd) != 0 || !whole || std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  patch_builder::PatchRequest request;
  std::string output, transformsTo;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) return Fail(arg + ": needs a value (see --help)");
    const std::string value = argv[++i];
    if (arg == "--old") {
      request.oldPackages.push_back(value);
    } else if (arg == "--new") {
      request.newPackage = value;
    } else if (arg == "--output") {
      output = value;
    } else if (arg == "--patch-code") {
      request.patchCode = value;
    } else if (arg == "--family") {
      request.family = value;
    } else if (arg == "--display-name") {
      request.displayName = value;
    } else if (arg == "--transforms-to") {
      transformsTo = value;
    } else {
      return Fail("unknown option " + arg + " (see --help)");
    }
  }
  if (request.oldPackages.empty() || request.newPackage.empty() || output.empty())
    return Fail("--old, --new and --output are required (see --help)");
  if (request.patchCode) {
    const std::string& code = *request.patchCode;
    bool guid = code.size() == 38 && code.front() == '{' && code.back() == '}';
    for (size_t k = 1; guid && k + 1 < code.size(); ++k) {
      const bool dash = k == 9 || k == 14 || k == 19 || k == 24;
      guid = dash ? code[k] == '-'
                  : std::isxdigit(static_cast<unsigned char>(code[k])) &&
                        !std::islower(static_cast<unsigned char>(code[k]));
    }
    if (!guid) return Fail("--patch-code: give a GUID in braces, upper case: " + code);
  }
  for (char c : request.family) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.')
      return Fail("--family: letters, digits, '_' and '.' only: " + request.family);
  }
  if (request.family.empty() || request.family.size() > 72)
    return Fail("--family: give a name of 1 to 72 characters");
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  request.fileTime = epoch && *epoch ? static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10))
                                     : std::time(nullptr);

  WorkFolder work;
  if (work.path().empty()) return Fail("cannot make a work folder in TMPDIR");
  request.workFolder = work.path();
  std::string error;
  const auto built = patch_builder::BuildPatch(request, error);
  if (!built) return Fail(error + "\nno patch written");
  if (!transformsTo.empty()) {
    for (const auto& [name, bytes] : built->transforms) {
      std::string file = name;
      if (file[0] == '#') file = "paired-" + file.substr(1);
      if (!WriteWhole(transformsTo + "/" + file + ".mst", bytes, error)) return Fail(error);
    }
  }
  if (!WriteWhole(output, built->bytes, error)) return Fail(error + "\nno patch written");
  std::printf("build-patch: wrote %s (patch code %s, %zu file(s) carried)\n", output.c_str(),
              built->patchCode.c_str(), built->changedFiles);
  return 0;
}
