#include "library/ScanFolder.h"

#include <algorithm>
#include <string>
#include <system_error>

namespace {

// Folders nested deeper than this are skipped; real photo folders never come close.
constexpr int kMaxDepth = 64;

void ScanInto(const fs::path& folder, Json::Value& tree, std::vector<fs::path>& files,
              const ScanFilter& filter, int depth) {
    if (!tree.isObject()) {
        tree = Json::Value(Json::objectValue);
    }
    if (depth > kMaxDepth) {
        return;
    }
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(*it);
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                  return a.path().filename() < b.path().filename();
              });
    for (const fs::directory_entry& entry : entries) {
        std::error_code statError;
        fs::file_status own = entry.symlink_status(statError);
        if (statError) {
            continue;
        }
        std::string name = entry.path().filename().string();
        if (fs::is_directory(own)) {
            ScanInto(entry.path(), tree[name], files, filter, depth + 1);
            continue;
        }
        // A link to a file is listed (the import copies what it points to); a link to a
        // folder is not entered.
        fs::file_status target = fs::is_symlink(own) ? entry.status(statError) : own;
        if (statError || !fs::is_regular_file(target)) {
            continue;
        }
        if (filter && !filter(entry.path())) {
            continue;
        }
        files.push_back(entry.path());
        tree[name] = entry.path().string();
    }
}

} // namespace

bool ScanFolder(const fs::path& folder, Json::Value& tree, std::vector<fs::path>& files,
                const ScanFilter& filter) {
    ScanInto(folder, tree, files, filter, 0);
    return !files.empty();
}
