// Where the process may load DLLs from.
#pragma once

namespace updater {

// Restricts the search for DLLs loaded by name, for the rest of the process, to the system
// folder: SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32), resolved at run time because
// Windows Vista and 7 have it only with an update. Where it is missing, the current folder at
// least leaves the search (SetDllDirectoryW with an empty text). The folder of the executable,
// typically a downloads folder that anyone may drop a DLL into, stays in the search on such a
// system. True when the search is restricted to the system folder.
bool RestrictDllSearch();

}  // namespace updater
