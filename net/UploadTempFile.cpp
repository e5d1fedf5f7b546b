#include "net/UploadTempFile.h"

#include "media/Ids.h"
#include "media/TextCodec.h"
#include "platform/Folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <system_error>

namespace {

constexpr char kTempFolderName[] = "VellumoTemp";
constexpr size_t kFolderNameLength = 16;
// Leaves room below NAME_MAX (255) for the unique-name suffix the library may add.
constexpr size_t kMaxNameBytes = 200;
constexpr size_t kMaxExtensionBytes = 16;
constexpr int kCreateAttempts = 8;
constexpr size_t kWriteChunk = size_t{1} << 18;

// Cuts UTF-8 text to at most `bytes` bytes without splitting a character.
std::string CutUtf8(std::string_view text, size_t bytes) {
    if (text.size() <= bytes) {
        return std::string(text);
    }
    size_t cut = bytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return std::string(text.substr(0, cut));
}

} // namespace

fs::path UploadTempRoot() {
    return GetTempDir() / kTempFolderName;
}

std::string SafeUploadName(std::string_view requested) {
    std::string name;
    name.reserve(requested.size());
    for (char ch : requested) {
        auto c = static_cast<unsigned char>(ch);
        if (ch == '/' || ch == '\\' || c < 0x20 || c == 0x7F) {
            continue;
        }
        name += ch;
    }
    // The library keeps the name in its records and JSON answers, which carry UTF-8 only.
    name = MakeValidUtf8(name);
    // Removing one ".." can join two dots into a new one ("...." -> ".."), so repeat.
    for (size_t at = name.find(".."); at != std::string::npos; at = name.find("..")) {
        name.erase(at, 2);
    }
    if (name.find_first_not_of('.') == std::string::npos) {
        return {}; // "", "." and the like name no file
    }
    if (name.size() > kMaxNameBytes) {
        size_t dot = name.rfind('.');
        std::string extension;
        if (dot != std::string::npos && dot > 0 && name.size() - dot <= kMaxExtensionBytes) {
            extension = name.substr(dot);
        }
        name = CutUtf8(name, kMaxNameBytes - extension.size()) + extension;
    }
    return name;
}

std::string FallbackUploadName() {
    char name[32];
    std::snprintf(name, sizeof name, "%lld.jpg", static_cast<long long>(NewId64()));
    return name;
}

bool IsUploadFolderName(std::string_view name) {
    if (name.size() != kFolderNameLength) {
        return false;
    }
    for (char c : name) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

UploadTempFile::UploadTempFile(const fs::path& root, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        return;
    }
    std::error_code ec;
    fs::create_directories(root, ec);
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        char folderName[kFolderNameLength + 1];
        std::snprintf(folderName, sizeof folderName, "%016" PRIx64, NewId64());
        fs::path folder = root / folderName;
        // create_directory reports false for a folder that already exists: never share one.
        if (fs::create_directory(folder, ec) && !ec) {
            m_folder = std::move(folder);
            m_file = m_folder / name;
            return;
        }
        if (ec && ec != std::errc::file_exists) {
            return;
        }
    }
}

UploadTempFile::~UploadTempFile() {
    if (!m_released && !m_folder.empty()) {
        std::error_code ec;
        fs::remove_all(m_folder, ec);
    }
}

bool UploadTempFile::Write(std::string_view bytes) {
    if (!Ok()) {
        return false;
    }
    int fd = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    // In pieces of 256 KiB: one multi-megabyte write into the page cache was measured to take
    // several times as long as the same bytes written in pieces.
    bool ok = true;
    while (ok && !bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), std::min(bytes.size(), kWriteChunk));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        ok = written > 0;
        if (ok) {
            bytes.remove_prefix(static_cast<size_t>(written));
        }
    }
    return ::close(fd) == 0 && ok;
}

bool UploadTempFile::SetTimes(int64_t seconds) {
    if (!Ok()) {
        return false;
    }
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return utimensat(AT_FDCWD, m_file.c_str(), times, 0) == 0;
}
