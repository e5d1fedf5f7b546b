#pragma once
// Image paths in the library file keep the stored form "\device\2013-05-01\IMG_0001.JPG"
// (relative to the repository folder, '\' between components) so a storage root moved between
// a Windows and a Linux PC keeps working. These two routines are the only place that converts.

#include <filesystem>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

// repos + stored path -> file-system path.
fs::path StoredToFsPath(const fs::path& repos, std::string_view stored);
// File-system path below repos -> stored form; "" when the path is not below repos.
std::string FsToStoredPath(const fs::path& repos, const fs::path& full);
// The file a stored path names when its letter case differs from the file's on disk (a
// library carried over from Windows, where "\Local\" and "local/" are one folder): each
// component is matched exactly, else ignoring ASCII case. Empty when no file matches.
fs::path FindStoredPathIgnoringCase(const fs::path& repos, std::string_view stored);
