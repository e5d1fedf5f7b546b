#include "net/UploadStaging.h"

#include "media/Ids.h"
#include "media/JsonText.h"
#include "media/TextCodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <map>

namespace {

constexpr size_t kFolderNameLength = 16;
// Leaves room below NAME_MAX (255) for the unique-name suffix the library may add.
constexpr size_t kMaxNameBytes = 200;
constexpr size_t kMaxExtensionBytes = 16;
constexpr int kCreateAttempts = 8;
constexpr size_t kWriteChunk = size_t{1} << 18;
constexpr size_t kMaxRecordBytes = 64 * 1024;
constexpr char kRecordSuffix[] = ".json";

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

bool WriteAllFd(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), std::min(bytes.size(), kWriteChunk));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

bool ReadSmallFileAt(int dirFd, const std::string& name, std::string& out) {
    int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    out.clear();
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 && out.size() < kMaxRecordBytes) {
        out.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return got == 0;
}

// Names in a folder opened by descriptor, with whether each is a real folder (not a link).
std::map<std::string, bool> ListAt(int dirFd) {
    std::map<std::string, bool> names;
    int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return names;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return names;
    }
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat info {};
        bool folder = ::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISDIR(info.st_mode);
        names.emplace(std::move(name), folder);
    }
    ::closedir(dir);
    return names;
}

std::string StringMember(const Json::Value& object, const char* name) {
    const Json::Value& member = JsonMember(object, name);
    return member.isString() ? member.asString() : std::string();
}

} // namespace

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

// ---------------------------------------------------------------------------------------------
// The staging folder

std::shared_ptr<UploadStaging> UploadStaging::Open(const fs::path& root) {
    if (root.empty()) {
        return nullptr;
    }
    fs::path folder = root / kFolderName;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return nullptr;
    }
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return nullptr; // a link or not a folder
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd); // another user's folder: nothing of it is touched
        return nullptr;
    }
    if ((info.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<UploadStaging>(new UploadStaging(std::move(folder), fd));
}

UploadStaging::~UploadStaging() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void UploadStaging::RemoveFolderTree(const std::string& id) {
    int sub = ::openat(m_fd, id.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub >= 0) {
        // Only files are ever made in a sub-folder.
        for (const auto& [name, folder] : ListAt(sub)) {
            ::unlinkat(sub, name.c_str(), folder ? AT_REMOVEDIR : 0);
        }
        ::close(sub);
    }
    ::unlinkat(m_fd, id.c_str(), AT_REMOVEDIR);
}

void UploadStaging::Remove(const std::string& id, const std::string& name) {
    if (!IsUploadFolderName(id)) {
        return;
    }
    // The record goes first: without it a crash half-way leaves an incomplete body, which
    // the next start removes.
    ::unlinkat(m_fd, (id + kRecordSuffix).c_str(), 0);
    int sub = ::openat(m_fd, id.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub >= 0) {
        if (!name.empty()) {
            ::unlinkat(sub, name.c_str(), 0);
        }
        ::close(sub);
    }
    ::unlinkat(m_fd, id.c_str(), AT_REMOVEDIR);
}

std::vector<UploadStaging::Leftover> UploadStaging::TakeLeftovers() {
    struct Found {
        Leftover leftover;
        int64_t order = 0;
    };
    std::vector<Found> complete;
    std::map<std::string, bool> names = ListAt(m_fd);
    for (const auto& [name, folder] : names) {
        if (!folder) {
            // Records are looked at with their folders; a record without one is dropped.
            std::string id = name.size() > 5 ? name.substr(0, name.size() - 5) : std::string();
            bool record = name.size() == kFolderNameLength + 5 &&
                          name.compare(kFolderNameLength, 5, kRecordSuffix) == 0 &&
                          IsUploadFolderName(id);
            if (record && names.count(id) == 0) {
                ::unlinkat(m_fd, name.c_str(), 0);
            }
            continue;
        }
        if (!IsUploadFolderName(name)) {
            continue; // not ours to judge
        }
        std::string text;
        Json::Value record;
        bool sealed = ReadSmallFileAt(m_fd, name + kRecordSuffix, text) &&
                      JsonParse(text, record) && record.isObject();
        std::string fileName = sealed ? StringMember(record, "name") : std::string();
        int64_t size = sealed ? JsonAsInt64(JsonMember(record, "size")) : -1;
        struct stat info {};
        bool whole =
            !fileName.empty() && fileName.find('/') == std::string::npos && fileName != "." &&
            fileName != ".." &&
            ::fstatat(m_fd, (name + "/" + fileName).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && info.st_size == size;
        if (!whole) {
            ::unlinkat(m_fd, (name + kRecordSuffix).c_str(), 0);
            RemoveFolderTree(name);
            continue;
        }
        Found found;
        found.leftover.id = name;
        found.leftover.file = m_folder / name / fileName;
        found.leftover.deviceKey = StringMember(record, "key");
        found.leftover.token = StringMember(record, "token");
        found.order = JsonAsInt64(JsonMember(record, "sealed"));
        complete.push_back(std::move(found));
    }
    std::stable_sort(complete.begin(), complete.end(),
                     [](const Found& a, const Found& b) { return a.order < b.order; });
    std::vector<Leftover> out;
    for (Found& found : complete) {
        out.push_back(std::move(found.leftover));
    }
    return out;
}

void UploadStaging::RemoveIfEmpty(const fs::path& root) {
    if (!root.empty()) {
        ::rmdir((root / kFolderName).c_str());
    }
}

// ---------------------------------------------------------------------------------------------
// One upload

StagedUpload::StagedUpload(std::shared_ptr<UploadStaging> staging, const std::string& name)
    : m_staging(std::move(staging)), m_name(name) {
    if (!m_staging || name.empty() || name.find('/') != std::string::npos || name == "." ||
        name == "..") {
        return;
    }
    for (int attempt = 0; attempt < kCreateAttempts && m_id.empty(); ++attempt) {
        char id[kFolderNameLength + 1];
        std::snprintf(id, sizeof id, "%016" PRIx64, NewId64());
        // Never share a folder: mkdirat fails for one that already exists.
        if (::mkdirat(m_staging->Fd(), id, 0700) == 0) {
            m_id = id;
        } else if (errno != EEXIST) {
            return;
        }
    }
    if (m_id.empty()) {
        return;
    }
    int sub =
        ::openat(m_staging->Fd(), m_id.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0) {
        return;
    }
    m_fileFd =
        ::openat(sub, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    ::close(sub);
    m_created = m_fileFd >= 0;
}

StagedUpload::~StagedUpload() {
    if (m_fileFd >= 0) {
        ::close(m_fileFd);
    }
    if (!m_keep && !m_id.empty()) {
        m_staging->Remove(m_id, m_name);
    }
}

fs::path StagedUpload::File() const {
    return m_id.empty() ? fs::path() : m_staging->Folder() / m_id / m_name;
}

bool StagedUpload::Write(std::string_view bytes) {
    if (m_fileFd < 0) {
        return false;
    }
    // In pieces of 256 KiB: one multi-megabyte write into the page cache was measured to take
    // several times as long as the same bytes written in pieces.
    if (!WriteAllFd(m_fileFd, bytes) || ::fdatasync(m_fileFd) != 0) {
        return false;
    }
    m_size += static_cast<int64_t>(bytes.size());
    return true;
}

bool StagedUpload::SetTimes(int64_t seconds) {
    if (m_fileFd < 0) {
        return false;
    }
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return ::futimens(m_fileFd, times) == 0;
}

bool StagedUpload::Seal(const std::string& deviceKey, const std::string& token) {
    if (m_fileFd < 0 || ::close(m_fileFd) != 0) {
        m_fileFd = -1;
        return false;
    }
    m_fileFd = -1;
    Json::Value record(Json::objectValue);
    record["key"] = deviceKey;
    record["token"] = token;
    record["name"] = m_name;
    record["size"] = Json::Int64(m_size);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // Leftovers are imported in the order they were received.
    record["sealed"] = Json::Int64(int64_t{now.tv_sec} * 1000000000 + now.tv_nsec);
    std::string text = JsonCompact(record);
    std::string recordName = m_id + kRecordSuffix;
    int fd = ::openat(m_staging->Fd(), recordName.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAllFd(fd, text);
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlinkat(m_staging->Fd(), recordName.c_str(), 0);
    }
    return ok;
}
