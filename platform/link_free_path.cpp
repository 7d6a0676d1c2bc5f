#include "platform/link_free_path.h"

namespace updater {

bool OpenedAsNamed(const OpenedFileFacts& facts) {
  return !facts.reparsePoint && facts.reachedAsNamed;
}

Status CheckReachedWithoutLinks(System& system, const std::wstring& path) {
  const Outcome<OpenedForQuery> opened = system.OpenForQuery(path, QueryAccess::kAttributes);
  if (!opened) return opened.failure();
  if (!OpenedAsNamed(opened->facts)) return Failure{kErrorCantResolveFilename};
  return {};
}

Outcome<std::wstring> FolderSecurity(System& system, const std::wstring& path) {
  const Outcome<OpenedForQuery> opened =
      system.OpenForQuery(path, QueryAccess::kAttributesAndSecurity);
  if (!opened) return opened.failure();
  if (!OpenedAsNamed(opened->facts)) return Failure{kErrorCantResolveFilename};
  return opened->object->Security();
}

}  // namespace updater
