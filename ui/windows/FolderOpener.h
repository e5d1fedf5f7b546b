#pragma once
// Opens a storage folder in the desktop's file manager: creates it when missing and hands it
// to xdg-open as one argument (no shell).

#include <filesystem>

bool OpenFolderInFileManager(const std::filesystem::path& folder);
