#pragma once
// Where Vellumo keeps its files: the settings pointer file in the user's configuration folder,
// the storage root it points to (with Repos and Thumb inside), and the per-start temporary
// folder.

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

// File and folder names inside the storage root.
inline constexpr const char* kLibraryFileName = "Vellumo.cfg";
inline constexpr const char* kReposFolderName = "Repos";
inline constexpr const char* kThumbFolderName = "Thumb";

// $XDG_CONFIG_HOME/Vellumo/Vellumo.cfg (else ~/.config/...); empty when no folder is known.
fs::path SettingsPointerPath();

// The storage root stored in the pointer file; empty when the file is missing, unreadable,
// not a JSON object, or its "RootPath" is not a text.
fs::path ReadSettingsRoot(const fs::path& pointerFile);
// Stores root as "RootPath" (Base64 of its UTF-8 text), keeping every other member of the
// file. The file is replaced atomically, so a failed write leaves the old one intact.
bool WriteSettingsRoot(const fs::path& pointerFile, const fs::path& root);

// Documents folder + "Vellumo", else the program's folder + "Vellumo"; empty when neither is
// known.
fs::path DefaultStorageRoot();

// GetTempDir() + "Vellumo_Temp_" + 16 upper-case hex digits of a fresh random number.
fs::path NewTempFolderPath();

// Absolute, without "." or ".." steps and without a trailing separator. Empty for an empty
// path.
fs::path NormalizeRoot(const fs::path& root);
