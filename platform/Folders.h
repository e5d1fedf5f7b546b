#pragma once
// Locations the system gives a program, with their Linux stand-ins. Each is empty when unknown.

#include <filesystem>

namespace fs = std::filesystem;

fs::path GetTempDir();      // $TMPDIR, else /tmp/ (always ends with '/')
fs::path GetDocumentsDir(); // XDG documents folder, else ~/Documents
fs::path GetAppDataDir();   // $XDG_CONFIG_HOME, else ~/.config
// $XDG_CACHE_HOME, else ~/.cache: the user's private cache folder.
fs::path GetCacheDir();
fs::path GetDataHomeDir(); // $XDG_DATA_HOME, else ~/.local/share (the Trash lives here)
fs::path GetRuntimeDir();  // $XDG_RUNTIME_DIR, else /tmp
fs::path GetModulePath();  // the running program file (/proc/self/exe)
// The program path in a /proc/<pid>/exe link: after an update replaced the running file the
// link ends in " (deleted)", which is dropped unless a file of the full name exists.
fs::path ProgramPathFromLink(const fs::path& link);
fs::path GetModuleDir(); // its folder
