#include "platform/Folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

std::string EnvText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// XDG variables only count when they hold an absolute path (the XDG base-directory rules).
fs::path XdgDir(const char* name) {
    std::string value = EnvText(name);
    if (!value.empty() && value[0] == '/') {
        return fs::path(value);
    }
    return {};
}

fs::path HomeDir() {
    std::string home = EnvText("HOME");
    if (!home.empty()) {
        return fs::path(home);
    }
    std::vector<char> buffer(16384);
    struct passwd pw;
    struct passwd* result = nullptr;
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr && result->pw_dir[0] != '\0') {
        return fs::path(result->pw_dir);
    }
    return {};
}

// XDG_DOCUMENTS_DIR="$HOME/Documents" from ~/.config/user-dirs.dirs.
fs::path DocumentsFromUserDirs(const fs::path& home) {
    fs::path config = GetAppDataDir();
    if (config.empty()) {
        return {};
    }
    std::ifstream in(config / "user-dirs.dirs");
    if (!in) {
        return {};
    }
    std::string line;
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') {
            continue;
        }
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (line.compare(start, key.size(), key) != 0) {
            continue;
        }
        std::string value = line.substr(start + key.size());
        while (!value.empty() &&
               (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) {
            value.pop_back();
        }
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (value.rfind("$HOME", 0) == 0) {
            if (home.empty()) {
                return {};
            }
            std::string rest = value.substr(5);
            while (!rest.empty() && rest.front() == '/') {
                rest.erase(rest.begin());
            }
            // "$HOME/" alone means the home folder itself.
            return rest.empty() ? home : home / rest;
        }
        if (!value.empty() && value[0] == '/') {
            return fs::path(value);
        }
        return {};
    }
    return {};
}

} // namespace

fs::path GetTempDir() {
    std::string dir = EnvText("TMPDIR");
    if (dir.empty()) {
        dir = "/tmp/";
    }
    if (dir.back() != '/') {
        dir += '/';
    }
    return fs::path(dir);
}

fs::path GetDocumentsDir() {
    fs::path dir = XdgDir("XDG_DOCUMENTS_DIR");
    if (!dir.empty()) {
        return dir;
    }
    fs::path home = HomeDir();
    dir = DocumentsFromUserDirs(home);
    if (!dir.empty()) {
        return dir;
    }
    if (home.empty()) {
        return {};
    }
    return home / "Documents";
}

fs::path GetAppDataDir() {
    fs::path dir = XdgDir("XDG_CONFIG_HOME");
    if (!dir.empty()) {
        return dir;
    }
    fs::path home = HomeDir();
    return home.empty() ? fs::path() : home / ".config";
}

fs::path GetCacheDir() {
    fs::path dir = XdgDir("XDG_CACHE_HOME");
    if (!dir.empty()) {
        return dir;
    }
    fs::path home = HomeDir();
    return home.empty() ? fs::path() : home / ".cache";
}

fs::path GetDataHomeDir() {
    fs::path dir = XdgDir("XDG_DATA_HOME");
    if (!dir.empty()) {
        return dir;
    }
    fs::path home = HomeDir();
    return home.empty() ? fs::path() : home / ".local" / "share";
}

fs::path GetRuntimeDir() {
    fs::path dir = XdgDir("XDG_RUNTIME_DIR");
    if (!dir.empty()) {
        return dir;
    }
    return fs::path("/tmp");
}

fs::path GetModulePath() {
    std::error_code ec;
    fs::path path = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    return ProgramPathFromLink(path);
}

fs::path ProgramPathFromLink(const fs::path& link) {
    static constexpr std::string_view kDeleted = " (deleted)";
    const std::string& text = link.native();
    std::error_code ec;
    if (text.size() > kDeleted.size() && text.ends_with(kDeleted) && !fs::exists(link, ec)) {
        return fs::path(text.substr(0, text.size() - kDeleted.size()));
    }
    return link;
}

fs::path GetModuleDir() {
    fs::path path = GetModulePath();
    return path.empty() ? fs::path() : path.parent_path();
}
