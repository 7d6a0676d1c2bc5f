// make_patch: writes Windows Installer patch packages (.msp) for tests, valid ones and hostile
// ones. Wine implements neither MsiDatabaseGenerateTransformW nor MsiCreateTransformSummaryInfoW,
// so the compound file, its string pools, the transforms and the summary information streams are
// all written directly with ole32. Run with --help for the options.
#include "../common/json_text.h"

#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Root class of a patch package, of a transform substorage and of an installation database (the
// last serves as the "wrong class" of hostile fixtures).
constexpr CLSID kPatchClass = {0x000C1086, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr CLSID kTransformClass = {0x000C1082, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr CLSID kDatabaseClass = {0x000C1084, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kFmtidSummaryInformation = {
    0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};

constexpr uint16_t kVtI2 = 2;
constexpr uint16_t kVtI4 = 3;
constexpr uint16_t kVtLpstr = 30;

constexpr uint32_t kPidCodepage = 1;
constexpr uint32_t kPidTitle = 2;
constexpr uint32_t kPidSubject = 3;
constexpr uint32_t kPidAuthor = 4;
constexpr uint32_t kPidKeywords = 5;
constexpr uint32_t kPidTemplate = 7;
constexpr uint32_t kPidLastAuthor = 8;
constexpr uint32_t kPidRevision = 9;
constexpr uint32_t kPidPageCount = 14;
constexpr uint32_t kPidCharCount = 16;

// Transform validation: only the product code is compared, so that each transform of a patch
// for several products applies to its own product alone.
constexpr int32_t kValidateProduct = 0x0002;

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void Check(HRESULT hr, const std::string& what) {
  if (FAILED(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    throw Failure(what + " failed: " + code);
  }
}

// Narrow text for VT_LPSTR values and string pools, in the given code page; characters the code
// page cannot hold are refused rather than replaced.
std::string Narrow(const std::wstring& text, UINT codepage) {
  if (text.empty()) return {};
  BOOL lossy = FALSE;
  const bool utf8 = codepage == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int size = WideCharToMultiByte(codepage, flags, text.data(), static_cast<int>(text.size()),
                                 nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
  if (size <= 0 || lossy) throw Failure("text not representable in code page");
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(codepage, flags, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) throw Failure("cannot read value file");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Stream names inside an installer database: the table prefix 0x4840, then characters of the
// 64-symbol alphabet packed two to a UTF-16 unit, so that names up to 62 characters fit the
// 31-unit limit of compound-file names.
std::wstring EncodeTableStreamName(const std::wstring& name) {
  auto symbol = [](wchar_t c) -> int {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'Z') return c - L'A' + 10;
    if (c >= L'a' && c <= L'z') return c - L'a' + 36;
    if (c == L'.') return 62;
    if (c == L'_') return 63;
    return -1;
  };
  std::wstring out(1, wchar_t{0x4840});
  for (size_t i = 0; i < name.size(); ++i) {
    const int first = symbol(name[i]);
    if (first < 0) {
      out += name[i];
      continue;
    }
    const int second = i + 1 < name.size() ? symbol(name[i + 1]) : -1;
    if (second >= 0) {
      out += static_cast<wchar_t>(0x3800 + first + (second << 6));
      ++i;
    } else {
      out += static_cast<wchar_t>(0x4800 + first);
    }
  }
  return out;
}

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void PutGuid(std::string& out, const GUID& g) {
  Put32(out, g.Data1);
  Put16(out, g.Data2);
  Put16(out, g.Data3);
  out.append(reinterpret_cast<const char*>(g.Data4), sizeof g.Data4);
}

// The summary information property set, written byte for byte so that hostile fixtures can give
// any property any type and values of any length survive exactly.
class SummaryInformation {
 public:
  void SetText(uint32_t id, std::string value) { values_[id] = {kVtLpstr, std::move(value), 0}; }
  void SetInt(uint32_t id, int32_t value) { values_[id] = {kVtI4, {}, value}; }
  void SetShort(uint32_t id, int16_t value) { values_[id] = {kVtI2, {}, value}; }
  void Remove(uint32_t id) { values_.erase(id); }

  std::string Serialize() const {
    std::string body;
    std::vector<std::pair<uint32_t, uint32_t>> offsets;
    const uint32_t tableEnd = 8 + 8 * static_cast<uint32_t>(values_.size());
    for (const auto& [id, value] : values_) {
      offsets.emplace_back(id, tableEnd + static_cast<uint32_t>(body.size()));
      Put32(body, value.type);
      if (value.type == kVtLpstr) {
        Put32(body, static_cast<uint32_t>(value.text.size() + 1));
        body += value.text;
        body += '\0';
        while (body.size() % 4) body += '\0';
      } else {
        Put32(body, static_cast<uint32_t>(value.number));
      }
    }
    std::string out;
    Put16(out, 0xFFFE);  // byte order mark
    Put16(out, 0);       // format
    Put32(out, 0x00020006);
    PutGuid(out, GUID{});
    Put32(out, 1);  // one section
    PutGuid(out, kFmtidSummaryInformation);
    Put32(out, 48);  // the section follows this header
    Put32(out, tableEnd + static_cast<uint32_t>(body.size()));
    Put32(out, static_cast<uint32_t>(values_.size()));
    for (const auto& [id, offset] : offsets) {
      Put32(out, id);
      Put32(out, offset);
    }
    return out + body;
  }

 private:
  struct Value {
    uint16_t type;
    std::string text;
    int32_t number;
  };
  std::map<uint32_t, Value> values_;
};

// A string pool: code page 0, then (length, reference count) per string; the texts concatenated.
struct StringPool {
  std::string pool;
  std::string data;
};

StringPool MakeStringPool(const std::vector<std::string>& strings) {
  StringPool result;
  Put32(result.pool, 0);
  for (const auto& s : strings) {
    if (s.size() > 0xFFFF) throw Failure("string pool entry too long");
    Put16(result.pool, static_cast<uint32_t>(s.size()));
    Put16(result.pool, 1);
    result.data += s;
  }
  return result;
}

template <typename T>
class Ref {
 public:
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (p_) p_->Release();
  }
  T** Out() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

void WriteStream(IStorage* storage, const std::wstring& name, const std::string& bytes) {
  Ref<IStream> stream;
  Check(storage->CreateStream(name.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                              stream.Out()),
        "CreateStream");
  size_t done = 0;
  while (done < bytes.size()) {
    ULONG written = 0;
    const ULONG chunk = static_cast<ULONG>(std::min<size_t>(bytes.size() - done, 1 << 20));
    Check(stream->Write(bytes.data() + done, chunk, &written), "IStream::Write");
    if (written == 0) throw Failure("IStream::Write wrote nothing");
    done += written;
  }
}

void WriteStringPool(IStorage* storage, const StringPool& pool) {
  WriteStream(storage, EncodeTableStreamName(L"_StringPool"), pool.pool);
  WriteStream(storage, EncodeTableStreamName(L"_StringData"), pool.data);
}

const std::wstring kSummaryStreamName = L"\005SummaryInformation";

struct TransformSpec {
  std::wstring name;
  std::wstring fromVersion;
  std::wstring toVersion;
  std::wstring productCode;
  std::wstring upgradeCode;
};

// A transform that changes the row "ProductVersion" of the Property table. Its row is in the
// transform's row format: a column mask (bit 1: the Value column), then the key and the value as
// string ids of this transform's own pool.
void WriteTransform(IStorage* root, const TransformSpec& spec, int32_t validation,
                    const std::string& templateText) {
  Ref<IStorage> storage;
  Check(root->CreateStorage(spec.name.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                            0, 0, storage.Out()),
        "CreateStorage");
  Check(storage->SetClass(kTransformClass), "IStorage::SetClass");
  WriteStringPool(storage.get(), MakeStringPool({"ProductVersion", Narrow(spec.toVersion, 1252)}));
  std::string row;
  Put16(row, 0x0002);
  Put16(row, 1);
  Put16(row, 2);
  WriteStream(storage.get(), EncodeTableStreamName(L"Property"), row);

  SummaryInformation summary;
  summary.SetText(kPidTemplate, templateText);
  summary.SetText(kPidRevision,
                  Narrow(spec.productCode + spec.fromVersion + L";" + spec.productCode +
                             spec.toVersion + L";" + spec.upgradeCode,
                         1252));
  summary.SetInt(kPidPageCount, 200);
  summary.SetInt(kPidCharCount, validation);
  WriteStream(storage.get(), kSummaryStreamName, summary.Serialize());
  Check(storage->Commit(STGC_DEFAULT), "IStorage::Commit (transform)");
}

struct Options {
  std::wstring out;
  std::optional<std::string> targets;
  std::optional<std::string> versions;
  std::optional<std::wstring> patchCode;
  std::optional<std::wstring> transformList;
  std::vector<TransformSpec> transforms;
  TransformSpec single;
  bool haveSingle = false;
  int32_t validation = kValidateProduct;
  std::string transformTemplate = ";1033";
  int codepage = 1252;
  std::string title = "Patch";
  CLSID rootClass = kPatchClass;
  bool stringPool = true;
  bool summary = true;
  bool keywords = true;
  bool templateProp = true;
  // Applied last, over everything the options above produce.
  std::map<uint32_t, std::optional<std::string>> textOverrides;  // empty: omit the property
  std::map<uint32_t, int32_t> intOverrides;
};

const wchar_t kUsage[] =
    L"usage: make_patch --out FILE [options]\n"
    L"  --targets TEXT | --targets-file FILE   property 7, target product codes\n"
    L"  --versions TEXT | --versions-file FILE property 5 (default \"<to>;<from>\" of the\n"
    L"                                         first transform, else absent)\n"
    L"  --patch-code GUID                      property 9 (default: a new GUID)\n"
    L"  --transforms LIST                      property 8 (default: \":T1;:T2...\" from the\n"
    L"                                         transforms, \":T1\" without any)\n"
    L"  --transform NAME,FROM,TO,PRODUCT,UPGRADE  add a transform substorage changing\n"
    L"                                         ProductVersion FROM -> TO (repeatable)\n"
    L"  --transform-from V --transform-to V --product-code GUID --upgrade-code GUID\n"
    L"                                         one transform, named by the first entry of\n"
    L"                                         --transforms or T1\n"
    L"  --validate N          transform validation flags (default 2: product code)\n"
    L"  --transform-template TEXT   transform property 7 (default \";1033\")\n"
    L"  --codepage N          property 1 (default 1252; 0 leaves it out)\n"
    L"  --title TEXT          property 2\n"
    L"hostile fixtures:\n"
    L"  --no-prop7 | --no-prop5           leave the property out\n"
    L"  --prop7-int N | --prop5-int N     write it as VT_I4\n"
    L"  --prop ID=TEXT | --prop-file ID=FILE | --prop-int ID=N | --omit-prop ID\n"
    L"  --no-string-pool      no _StringPool/_StringData streams in the root\n"
    L"  --no-summary          no summary information stream\n"
    L"  --wrong-class         root class of an installation database instead of a patch\n"
    L"  --root-class GUID     any root class\n"
    L"Values of text properties are written as VT_LPSTR in code page 1252.\n";

GUID ParseGuid(const std::wstring& text) {
  GUID g;
  if (FAILED(CLSIDFromString(text.c_str(), &g))) throw Failure("not a GUID");
  return g;
}

int32_t ParseInt(const std::wstring& text) {
  wchar_t* end = nullptr;
  const long long v = std::wcstoll(text.c_str(), &end, 0);
  if (text.empty() || *end != L'\0' || v < INT32_MIN || v > UINT32_MAX)
    throw Failure("not a number");
  return static_cast<int32_t>(v);
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  std::wstring::size_type start = 0;
  while (true) {
    const auto at = text.find(separator, start);
    parts.push_back(text.substr(start, at - start));
    if (at == std::wstring::npos) return parts;
    start = at + 1;
  }
}

std::pair<uint32_t, std::wstring> ParseAssignment(const std::wstring& text) {
  const auto at = text.find(L'=');
  if (at == std::wstring::npos) throw Failure("expected ID=VALUE");
  return {static_cast<uint32_t>(ParseInt(text.substr(0, at))), text.substr(at + 1)};
}

Options ParseOptions(int argc, wchar_t** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    auto value = [&]() -> std::wstring {
      if (i + 1 >= argc) throw Failure("option needs a value");
      return argv[++i];
    };
    if (arg == L"--out") {
      o.out = value();
    } else if (arg == L"--targets") {
      o.targets = Narrow(value(), 1252);
    } else if (arg == L"--targets-file") {
      o.targets = ReadFileBytes(value());
    } else if (arg == L"--versions") {
      o.versions = Narrow(value(), 1252);
    } else if (arg == L"--versions-file") {
      o.versions = ReadFileBytes(value());
    } else if (arg == L"--patch-code") {
      o.patchCode = value();
    } else if (arg == L"--transforms") {
      o.transformList = value();
    } else if (arg == L"--transform") {
      const auto parts = Split(value(), L',');
      if (parts.size() != 5) throw Failure("--transform needs NAME,FROM,TO,PRODUCT,UPGRADE");
      o.transforms.push_back({parts[0], parts[1], parts[2], parts[3], parts[4]});
    } else if (arg == L"--transform-from") {
      o.single.fromVersion = value();
      o.haveSingle = true;
    } else if (arg == L"--transform-to") {
      o.single.toVersion = value();
      o.haveSingle = true;
    } else if (arg == L"--product-code") {
      o.single.productCode = value();
      o.haveSingle = true;
    } else if (arg == L"--upgrade-code") {
      o.single.upgradeCode = value();
      o.haveSingle = true;
    } else if (arg == L"--validate") {
      o.validation = ParseInt(value());
    } else if (arg == L"--transform-template") {
      o.transformTemplate = Narrow(value(), 1252);
    } else if (arg == L"--codepage") {
      o.codepage = ParseInt(value());
    } else if (arg == L"--title") {
      o.title = Narrow(value(), 1252);
    } else if (arg == L"--no-prop7") {
      o.textOverrides[kPidTemplate] = std::nullopt;
    } else if (arg == L"--no-prop5") {
      o.textOverrides[kPidKeywords] = std::nullopt;
    } else if (arg == L"--prop7-int") {
      o.intOverrides[kPidTemplate] = ParseInt(value());
    } else if (arg == L"--prop5-int") {
      o.intOverrides[kPidKeywords] = ParseInt(value());
    } else if (arg == L"--prop") {
      auto [id, text] = ParseAssignment(value());
      o.textOverrides[id] = Narrow(text, 1252);
    } else if (arg == L"--prop-file") {
      auto [id, path] = ParseAssignment(value());
      o.textOverrides[id] = ReadFileBytes(path);
    } else if (arg == L"--prop-int") {
      auto [id, text] = ParseAssignment(value());
      o.intOverrides[id] = ParseInt(text);
    } else if (arg == L"--omit-prop") {
      o.textOverrides[static_cast<uint32_t>(ParseInt(value()))] = std::nullopt;
    } else if (arg == L"--no-string-pool") {
      o.stringPool = false;
    } else if (arg == L"--no-summary") {
      o.summary = false;
    } else if (arg == L"--wrong-class") {
      o.rootClass = kDatabaseClass;
    } else if (arg == L"--root-class") {
      o.rootClass = ParseGuid(value());
    } else {
      throw Failure("unknown option");
    }
  }
  if (o.out.empty()) throw Failure("--out is required");
  if (o.haveSingle) {
    const auto& s = o.single;
    if (s.fromVersion.empty() || s.toVersion.empty() || s.productCode.empty() ||
        s.upgradeCode.empty())
      throw Failure(
          "--transform-from, --transform-to, --product-code and --upgrade-code go together");
    o.single.name = L"T1";
    if (o.transformList) {
      auto first = Split(*o.transformList, L';').front();
      if (!first.empty() && first[0] == L':') first.erase(0, 1);
      if (!first.empty()) o.single.name = first;
    }
    o.transforms.insert(o.transforms.begin(), o.single);
  }
  return o;
}

std::wstring NewGuid() {
  GUID g;
  Check(CoCreateGuid(&g), "CoCreateGuid");
  wchar_t text[40];
  StringFromGUID2(g, text, 40);
  return text;
}

SummaryInformation PatchSummary(const Options& o, const std::wstring& patchCode) {
  SummaryInformation s;
  if (o.codepage != 0) s.SetShort(kPidCodepage, static_cast<int16_t>(o.codepage));
  s.SetText(kPidTitle, o.title);
  s.SetText(kPidSubject, "Quorvex test patch");
  s.SetText(kPidAuthor, "Quorvex");
  if (o.targets) s.SetText(kPidTemplate, *o.targets);
  if (o.versions) {
    s.SetText(kPidKeywords, *o.versions);
  } else if (!o.transforms.empty()) {
    const auto& t = o.transforms.front();
    s.SetText(kPidKeywords, Narrow(t.toVersion + L";" + t.fromVersion, 1252));
  }
  std::wstring list;
  if (o.transformList) {
    list = *o.transformList;
  } else {
    for (const auto& t : o.transforms) list += (list.empty() ? L":" : L";:") + t.name;
    if (list.empty()) list = L":T1";
  }
  s.SetText(kPidLastAuthor, Narrow(list, 1252));
  s.SetText(kPidRevision, Narrow(patchCode, 1252));
  for (const auto& [id, text] : o.textOverrides) {
    if (text)
      s.SetText(id, *text);
    else
      s.Remove(id);
  }
  for (const auto& [id, number] : o.intOverrides) s.SetInt(id, number);
  return s;
}

void WritePatch(const Options& o, const std::wstring& patchCode) {
  const SummaryInformation summary = PatchSummary(o, patchCode);
  Ref<IStorage> root;
  Check(StgCreateDocfile(o.out.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                         root.Out()),
        "StgCreateDocfile");
  Check(root->SetClass(o.rootClass), "IStorage::SetClass");
  // An installer database of code page 0 without strings: the patch carries no tables of its
  // own, but msi.dll opens it as a database and needs the pool.
  if (o.stringPool) WriteStringPool(root.get(), MakeStringPool({}));
  for (const auto& t : o.transforms)
    WriteTransform(root.get(), t, o.validation, o.transformTemplate);
  if (o.summary) WriteStream(root.get(), kSummaryStreamName, summary.Serialize());
  Check(root->Commit(STGC_DEFAULT), "IStorage::Commit");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::wstring(argv[i]) == L"--help") {
      std::fputws(kUsage, stdout);
      return 0;
    }
  }
  try {
    const Options options = ParseOptions(argc, argv);
    Check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "CoInitializeEx");
    const std::wstring patchCode = options.patchCode ? *options.patchCode : NewGuid();
    WritePatch(options, patchCode);
    CoUninitialize();
    std::printf("{\"out\": %s, \"patch_code\": %s}\n", JsonText(options.out).c_str(),
                JsonText(patchCode).c_str());
    return 0;
  } catch (const Failure& e) {
    std::fprintf(stderr, "make_patch: %s (see --help)\n", e.what());
    return 2;
  }
}
