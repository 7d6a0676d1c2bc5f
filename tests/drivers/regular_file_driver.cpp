// Writes, on the real platform, the way the updater writes its logs and its lock:
//   regular_file_driver PATH...
// opens each PATH with CreateRegularFileForWriting, writes "written" to what it is handed and
// closes it, and prints one JSON object: each path and the error of its opening (0 when written),
// and, under "facts", what the platform's opening of an existing name reports.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/regular_file.h"
#include "platform/win32_system.h"
#include "tools/common/json_text.h"

int wmain(int argc, wchar_t** argv) {
  updater::Win32System system(GetModuleHandleW(nullptr));
  std::string errors, facts;
  for (int i = 1; i < argc; ++i) {
    const std::wstring path = argv[i];
    uint32_t error = 0;
    {
      updater::Outcome<std::unique_ptr<updater::WritableFile>> file =
          updater::CreateRegularFileForWriting(system, path);
      error = file.error();
      if (file) {
        static const char kText[] = "written";
        const updater::Status written =
            (*file)->Write(reinterpret_cast<const std::byte*>(kText), sizeof kText - 1);
        const updater::Status closed = (*file)->Close();
        if (!written || !closed) error = 0xFFFFFFFFu;
      }
    }
    // The primitive's own view of the name, where anything can be opened there.
    updater::Outcome<updater::OpenedFile> opened = system.OpenFileForWriting(
        path, updater::FileOpening::kOpenExisting, updater::FileSharing::kReading);
    std::string fact = "null";
    if (opened) {
      const updater::OpenedFileFacts& f = opened->facts;
      char text[160];
      std::snprintf(text, sizeof text,
                    "{\"kind\": %d, \"reparse_point\": %s, \"links\": %u, \"as_named\": %s}",
                    static_cast<int>(f.kind), f.reparsePoint ? "true" : "false",
                    static_cast<unsigned>(f.linkCount), f.reachedAsNamed ? "true" : "false");
      fact = text;
    }
    const std::string name = JsonText(path);
    errors += (errors.empty() ? "" : ", ") + name + ": " + std::to_string(error);
    facts += (facts.empty() ? "" : ", ") + name + ": " + fact;
  }
  std::printf("{\"errors\": {%s}, \"facts\": {%s}}\n", errors.c_str(), facts.c_str());
  return 0;
}
