// msiquery: reports what the Windows Installer knows, as JSON on stdout, for end-to-end tests.
// Under Wine MsiConfigureProductExW returns 0 even for a rejected patch, so tests judge a patch by
// its effects: the product's registered version and patches, read here.
//
//   msiquery product CODE...             state, ProductName, Language, VersionString, patches
//   msiquery summary FILE                summary information properties 1..19 with their types
//   msiquery configure CODE COMMANDLINE [LOGFILE]
//                                        MsiConfigureProductExW(CODE, 0, 5, COMMANDLINE) with
//                                        no UI; the verbose log goes to LOGFILE when given
//   msiquery transform DATABASE TRANSFORM
//                                        applies the transform file to DATABASE (changed in
//                                        place) with MsiDatabaseApplyTransformW and commits
//
// Output is ASCII: other characters are written as \u escapes.
#include <windows.h>
// msi.h needs the Windows types first.
#include <msi.h>
#include <msiquery.h>

#include "../common/json_text.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Calls an msi.dll getter that reports ERROR_MORE_DATA with the needed length, growing the
// buffer until the whole value fits.
template <typename Getter>
UINT ReadText(Getter get, std::wstring& text) {
  std::vector<wchar_t> buffer(64);
  while (true) {
    DWORD length = static_cast<DWORD>(buffer.size());
    const UINT rc = get(buffer.data(), &length);
    if (rc == ERROR_MORE_DATA) {
      buffer.resize(length + 1);
      continue;
    }
    text.assign(buffer.data(), rc == ERROR_SUCCESS ? length : 0);
    return rc;
  }
}

std::string InfoJson(const wchar_t* code, const wchar_t* property) {
  std::wstring value;
  const UINT rc =
      ReadText([&](wchar_t* buffer,
                   DWORD* length) { return MsiGetProductInfoW(code, property, buffer, length); },
               value);
  return "{\"rc\": " + std::to_string(rc) +
         ", \"value\": " + (rc == ERROR_SUCCESS ? JsonText(value) : std::string("null")) + "}";
}

std::string PatchesJson(const wchar_t* code) {
  std::string list;
  UINT rc = ERROR_SUCCESS;
  for (DWORD index = 0;; ++index) {
    wchar_t patch[39] = {};
    std::wstring transforms;
    rc =
        ReadText([&](wchar_t* buffer,
                     DWORD* length) { return MsiEnumPatchesW(code, index, patch, buffer, length); },
                 transforms);
    if (rc != ERROR_SUCCESS) break;
    if (!list.empty()) list += ", ";
    list += "{\"code\": " + JsonText(patch) + ", \"transforms\": " + JsonText(transforms) + "}";
  }
  return "{\"rc\": " + std::to_string(rc) + ", \"list\": [" + list + "]}";
}

int QueryProducts(int argc, wchar_t** argv) {
  std::string out = "{\"products\": [";
  for (int i = 2; i < argc; ++i) {
    const wchar_t* code = argv[i];
    if (i > 2) out += ", ";
    out += "{\"code\": " + JsonText(code) +
           ", \"state\": " + std::to_string(MsiQueryProductStateW(code));
    for (const wchar_t* property : {L"ProductName", L"Language", L"VersionString"}) {
      std::wstring name = property;
      out += ", " + JsonText(name) + ": " + InfoJson(code, property);
    }
    out += ", \"patches\": " + PatchesJson(code) + "}";
  }
  std::printf("%s]}\n", out.c_str());
  return 0;
}

int QuerySummary(const wchar_t* path) {
  MSIHANDLE summary = 0;
  const UINT rc = MsiGetSummaryInformationW(0, path, 0, &summary);
  std::string out = "{\"rc\": " + std::to_string(rc) + ", \"properties\": {";
  bool first = true;
  for (UINT id = 1; rc == ERROR_SUCCESS && id < 20; ++id) {
    UINT type = 0;
    INT number = 0;
    FILETIME time = {};
    std::wstring text;
    const UINT got = ReadText(
        [&](wchar_t* buffer, DWORD* length) {
          return MsiSummaryInfoGetPropertyW(summary, id, &type, &number, &time, buffer, length);
        },
        text);
    if (got != ERROR_SUCCESS || type == VT_EMPTY) continue;
    out += first ? "" : ", ";
    first = false;
    // Appended piecewise: GCC 12 warns falsely (-Wrestrict) about "literal" + std::string&&.
    out += '"';
    out += std::to_string(id);
    out += "\": {\"type\": ";
    out += std::to_string(type);
    if (type == VT_LPSTR) {
      out += ", \"value\": " + JsonText(text);
    } else if (type == VT_I2 || type == VT_I4) {
      out += ", \"value\": " + std::to_string(number);
    }
    out += "}";
  }
  if (summary) MsiCloseHandle(summary);
  std::printf("%s}}\n", out.c_str());
  return 0;
}

int Configure(const wchar_t* code, const wchar_t* commandLine, const wchar_t* logFile) {
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  if (logFile) MsiEnableLogW(INSTALLLOGMODE_VERBOSE, logFile, 0);
  const UINT rc = MsiConfigureProductExW(code, 0, INSTALLSTATE_DEFAULT, commandLine);
  std::printf("{\"rc\": %u}\n", rc);
  return 0;
}

int Transform(const wchar_t* database, const wchar_t* transform) {
  MSIHANDLE db = 0;
  UINT rc = MsiOpenDatabaseW(database, MSIDBOPEN_DIRECT, &db);
  UINT applied = 0, committed = 0;
  if (rc == ERROR_SUCCESS) {
    applied = MsiDatabaseApplyTransformW(db, transform, 0);
    if (applied == ERROR_SUCCESS) committed = MsiDatabaseCommit(db);
    MsiCloseHandle(db);
  }
  std::printf("{\"open\": %u, \"apply\": %u, \"commit\": %u}\n", rc, applied, committed);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"product" && argc > 2) return QueryProducts(argc, argv);
  if (command == L"summary" && argc == 3) return QuerySummary(argv[2]);
  if (command == L"configure" && (argc == 4 || argc == 5))
    return Configure(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
  if (command == L"transform" && argc == 4) return Transform(argv[2], argv[3]);
  std::fputs(
      "usage: msiquery product CODE... | summary FILE | configure CODE COMMANDLINE [LOGFILE]\n"
      "       | transform DATABASE TRANSFORM\n",
      stderr);
  return 2;
}
