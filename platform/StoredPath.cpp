#include "platform/StoredPath.h"

#include <sys/stat.h>

#include <algorithm>
#include <system_error>
#include <vector>

fs::path StoredToFsPath(const fs::path& repos, std::string_view stored) {
    if (repos.empty()) {
        return {};
    }
    // Components are separated by '\' (the stored form); '/' is taken as a separator too so
    // that no component can carry one into the file system.
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= stored.size(); ++i) {
        if (i == stored.size() || stored[i] == '\\' || stored[i] == '/') {
            if (i > start) {
                parts.push_back(stored.substr(start, i - start));
            }
            start = i + 1;
        }
    }
    fs::path result = repos;
    bool any = false;
    for (std::string_view part : parts) {
        if (part == ".") {
            continue;
        }
        if (part == ".." || part.find('\0') != std::string_view::npos) {
            return {}; // would leave the repository folder, or cannot name a file
        }
        result /= fs::path(std::string(part));
        any = true;
    }
    if (!any) {
        return {};
    }
    return result;
}

std::string FsToStoredPath(const fs::path& repos, const fs::path& full) {
    if (repos.empty() || full.empty()) {
        return {};
    }
    fs::path base = repos.lexically_normal();
    fs::path path = full.lexically_normal();
    auto b = base.begin();
    auto p = path.begin();
    for (; b != base.end(); ++b) {
        if (b->empty()) {
            continue; // the empty last element of a path that ends with '/'
        }
        if (p == path.end() || *p != *b) {
            return {};
        }
        ++p;
    }
    std::string stored;
    for (; p != path.end(); ++p) {
        const std::string part = p->string();
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == ".." || part.find('\\') != std::string::npos) {
            return {}; // outside repos, or a name the stored form cannot carry
        }
        stored += '\\';
        stored += part;
    }
    return stored;
}

namespace {

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

} // namespace

fs::path FindStoredPathIgnoringCase(const fs::path& repos, std::string_view stored) {
    const fs::path exact = StoredToFsPath(repos, stored);
    if (exact.empty()) {
        return {};
    }
    fs::path found = repos;
    for (const fs::path& part : exact.lexically_relative(repos)) {
        struct stat info {};
        if (::lstat((found / part).c_str(), &info) == 0) {
            found /= part;
            continue;
        }
        // The first name in byte order that matches, so the choice is the same every time.
        const std::string wanted = LowerAscii(part.string());
        std::vector<std::string> matches;
        std::error_code ec;
        for (fs::directory_iterator it(found, ec), end; !ec && it != end; it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (LowerAscii(name) == wanted) {
                matches.push_back(std::move(name));
            }
        }
        if (matches.empty()) {
            return {};
        }
        found /= *std::min_element(matches.begin(), matches.end());
    }
    return found;
}
