#include "shell/AutoStart.h"

#include "platform/FileSystem.h"
#include "platform/Folders.h"

#include <system_error>

fs::path AutoStartEntryPath() {
    fs::path config = GetAppDataDir();
    if (config.empty()) {
        return {};
    }
    return config / "autostart" / (std::string(kAutoStartName) + ".desktop");
}

std::string AutoStartExecValue(const fs::path& program) {
    const std::string& path = program.native();
    if (path.empty()) {
        return {};
    }
    // Inside a quoted argument ", `, $ and \ take a backslash; the entry's string escaping then
    // doubles every backslash. A literal % is written %%.
    std::string value = "\"";
    for (char c : path) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            return {};
        }
        switch (c) {
        case '"':
        case '`':
        case '$':
            value += "\\\\";
            value += c;
            break;
        case '\\':
            value += "\\\\\\\\";
            break;
        case '%':
            value += "%%";
            break;
        default:
            value += c;
        }
    }
    value += "\" --silence";
    return value;
}

std::string BuildAutoStartEntry(const fs::path& program) {
    std::string exec = AutoStartExecValue(program);
    if (exec.empty()) {
        return {};
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vellumo\n"
           "Comment=Backs up the photos of your phones to this computer\n"
           "Exec=" +
           exec +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool SetAutoStartEntry(bool on, const fs::path& program) {
    fs::path entry = AutoStartEntryPath();
    if (entry.empty()) {
        return false;
    }
    std::error_code ec;
    if (!on) {
        fs::remove(entry, ec);
        return !ec && !fs::exists(fs::symlink_status(entry, ec));
    }
    std::string text = BuildAutoStartEntry(program);
    if (text.empty()) {
        return false;
    }
    fs::create_directories(entry.parent_path(), ec);
    fs::path temporary = entry;
    temporary += ".new";
    fs::remove(temporary, ec);
    if (!WriteWholeFile(temporary, text)) {
        fs::remove(temporary, ec);
        return false;
    }
    fs::rename(temporary, entry, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}
