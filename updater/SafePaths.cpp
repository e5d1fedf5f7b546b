#include "updater/SafePaths.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsDriveLetter(std::string_view component) {
    return component.size() >= 2 && component[1] == ':' &&
           ((component[0] >= 'a' && component[0] <= 'z') ||
            (component[0] >= 'A' && component[0] <= 'Z'));
}

bool IsReservedComponent(std::string_view component) {
    if (component == kBackupFolderName) {
        return true;
    }
    std::string_view suffix = kTempSuffix;
    return component.size() >= suffix.size() &&
           component.substr(component.size() - suffix.size()) == suffix;
}

} // namespace

bool IsValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        // Over-long forms, surrogates and values past U+10FFFF are not UTF-8.
        static constexpr uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
        if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

bool NormalizePackageName(std::string_view raw, std::string& out, bool* isFolder) {
    out.clear();
    if (raw.size() > kMaxPackageNameBytes || !IsValidUtf8(raw)) {
        return false;
    }
    while (!raw.empty() && IsBlank(raw.front())) {
        raw.remove_prefix(1);
    }
    while (!raw.empty() && IsBlank(raw.back())) {
        raw.remove_suffix(1);
    }
    if (raw.empty() || raw.front() == '/' || raw.front() == '\\') {
        return false;
    }
    for (char c : raw) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return false;
        }
    }
    if (isFolder) {
        *isFolder = raw.back() == '/' || raw.back() == '\\';
    }
    size_t start = 0;
    bool first = true;
    while (start <= raw.size()) {
        size_t end = raw.find_first_of("/\\", start);
        if (end == std::string_view::npos) {
            end = raw.size();
        }
        std::string_view component = raw.substr(start, end - start);
        start = end + 1;
        if (component.empty()) {
            continue;
        }
        if (component == "." || component == ".." || component.size() > 255 ||
            (first && IsDriveLetter(component)) || IsReservedComponent(component)) {
            out.clear();
            return false;
        }
        first = false;
        if (!out.empty()) {
            out += '/';
        }
        out.append(component);
    }
    return !out.empty();
}

std::vector<std::string> SplitComponents(const std::string& relative) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos) {
            end = relative.size();
        }
        if (end > start) {
            parts.push_back(relative.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

UniqueFd OpenFolderBelow(int rootFd, const std::vector<std::string>& components, bool create,
                         mode_t mode) {
    UniqueFd current(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
    for (const std::string& name : components) {
        if (!current.Valid()) {
            return {};
        }
        int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = ::openat(current.Get(), name.c_str(), flags);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(current.Get(), name.c_str(), mode) != 0 && errno != EEXIST) {
                return {};
            }
            next = ::openat(current.Get(), name.c_str(), flags);
        }
        current.Reset(next);
    }
    return current;
}

EntryKind InspectBelow(int rootFd, const std::string& relative) {
    std::vector<std::string> parts = SplitComponents(relative);
    if (parts.empty()) {
        return EntryKind::Unreachable;
    }
    std::string leaf = parts.back();
    parts.pop_back();
    // Walk the folders one by one so that a link anywhere on the way is noticed.
    UniqueFd current(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
    for (const std::string& name : parts) {
        struct stat st {};
        if (::fstatat(current.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno == ENOENT ? EntryKind::Missing : EntryKind::Unreachable;
        }
        if (!S_ISDIR(st.st_mode)) {
            return EntryKind::Unreachable;
        }
        current.Reset(
            ::openat(current.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!current.Valid()) {
            return EntryKind::Unreachable;
        }
    }
    struct stat st {};
    if (::fstatat(current.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? EntryKind::Missing : EntryKind::Unreachable;
    }
    if (S_ISLNK(st.st_mode)) {
        return EntryKind::Link;
    }
    if (S_ISDIR(st.st_mode)) {
        return EntryKind::Folder;
    }
    return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
}
