#pragma once
// Recursive folder listing used by the PC-side import.

#include <json/value.h>

#include <filesystem>
#include <functional>
#include <vector>

namespace fs = std::filesystem;

using ScanFilter = std::function<bool(const fs::path& file)>;

// Lists every file below folder that the filter accepts (all files without a filter), in name
// order. tree receives one member per entry: a sub-folder's member is the object of its own
// scan, a file's member is its full path as UTF-8 text. Symbolic links to folders are not
// followed, so a link loop cannot make the scan endless. True when the list is not empty.
bool ScanFolder(const fs::path& folder, Json::Value& tree, std::vector<fs::path>& files,
                const ScanFilter& filter = nullptr);
