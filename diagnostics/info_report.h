// The payload information report shown by "/i": per payload kind, the target products, the
// versions, and the running Windows. English only, and shown even in quiet mode.
#pragma once

#include <string>

#include "payload/payload_store.h"
#include "platform/installer.h"
#include "platform/system.h"

namespace updater {

inline constexpr uint32_t kInfoBoxFlags = 0x50030;  // MB_OK | MB_ICONWARNING | foreground | topmost

// The section of one payload: its target codes one per line, its target versions, its upgrade
// version and the OS line. Slots whose data cannot be had stay empty. The temporary copy of the
// payload is held in copyFolder while it is read and deleted right after.
std::wstring BuildPayloadReport(System& system, Installer& installer, PayloadStore& store,
                                const std::wstring& resourceName, const FolderChoice& copyFolder);

// One section per payload kind, in the kinds' order, each under its title, between separators.
std::wstring BuildInformationReport(System& system, Installer& installer, PayloadStore& store,
                                    const FolderChoice& copyFolder);

}  // namespace updater
