#pragma once
// Unpacks an update package (a zip archive) into a folder with minizip and zlib. Every entry
// name is checked before anything is written, links and special files are refused, entries are
// written without following links, and the amount written is bounded.

#include <cstdint>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

struct UnpackLimits {
    size_t maxEntries = 20000;
    int64_t maxEntryBytes = 512LL * 1024 * 1024;
    int64_t maxTotalBytes = 1024LL * 1024 * 1024;
};

class CHPackageUnpacker {
public:
    enum class Result {
        Ok,
        NotAZip,  // the file cannot be opened as a zip archive
        BadEntry, // an entry is unsafe, unreadable, corrupt or over a limit
        WriteFailed,
    };

    explicit CHPackageUnpacker(UnpackLimits limits = {}) : m_limits(limits) {}

    // Unpacks zipFile into target, an existing empty folder. On failure target may hold part of
    // the package; the caller removes it. Error() says what went wrong.
    Result Unpack(const fs::path& zipFile, const fs::path& target);
    const std::string& Error() const { return m_error; }
    size_t EntryCount() const { return m_entries; }
    int64_t BytesWritten() const { return m_total; }

private:
    class Archive;
    Result UnpackEntries(Archive& archive, int targetFd);
    Result UnpackOneEntry(Archive& archive, int targetFd);
    Result CopyEntryData(Archive& archive, int fileFd, int64_t& entryBytes);
    Result Fail(Result result, std::string error);

    UnpackLimits m_limits;
    std::string m_error;
    size_t m_entries = 0;
    int64_t m_total = 0;
};
