#include "updater/CHPackageUnpacker.h"

#include "platform/FileSystem.h"

#include <fcntl.h>
#include <minizip/unzip.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "updater/SafePaths.h"

namespace {

constexpr size_t kBlockSize = 512 * 1024;
constexpr int kMadeOnUnix = 3;
constexpr int kMethodStored = 0;
constexpr int kMethodDeflated = 8;
constexpr unsigned kFlagEncrypted = 1;

// The Unix mode bits a zip made on Unix keeps in the upper half of the external attributes.
mode_t UnixModeOf(const unz_file_info64& info) {
    if ((info.version >> 8) != kMadeOnUnix) {
        return 0;
    }
    return static_cast<mode_t>(info.external_fa >> 16);
}

} // namespace

class CHPackageUnpacker::Archive {
public:
    explicit Archive(const fs::path& file) : m_zip(unzOpen64(file.c_str())) {}
    ~Archive() {
        if (m_zip) {
            unzClose(m_zip);
        }
    }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;
    unzFile Get() const { return m_zip; }

private:
    unzFile m_zip;
};

CHPackageUnpacker::Result CHPackageUnpacker::Fail(Result result, std::string error) {
    m_error = std::move(error);
    return result;
}

CHPackageUnpacker::Result CHPackageUnpacker::Unpack(const fs::path& zipFile,
                                                    const fs::path& target) {
    m_error.clear();
    m_entries = 0;
    m_total = 0;
    Archive archive(zipFile);
    if (!archive.Get()) {
        return Fail(Result::NotAZip, "not a zip archive");
    }
    UniqueFd targetFd(::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!targetFd.Valid()) {
        return Fail(Result::WriteFailed, "cannot open the unpack folder");
    }
    return UnpackEntries(archive, targetFd.Get());
}

CHPackageUnpacker::Result CHPackageUnpacker::UnpackEntries(Archive& archive, int targetFd) {
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(archive.Get(), &global) != UNZ_OK) {
        return Fail(Result::NotAZip, "no central directory");
    }
    if (global.number_entry > m_limits.maxEntries) {
        return Fail(Result::BadEntry, "too many entries");
    }
    int status = unzGoToFirstFile(archive.Get());
    if (status == UNZ_END_OF_LIST_OF_FILE) {
        return Result::Ok;
    }
    while (status == UNZ_OK) {
        if (++m_entries > m_limits.maxEntries) {
            return Fail(Result::BadEntry, "too many entries");
        }
        Result result = UnpackOneEntry(archive, targetFd);
        if (result != Result::Ok) {
            return result;
        }
        status = unzGoToNextFile(archive.Get());
    }
    if (status != UNZ_END_OF_LIST_OF_FILE) {
        return Fail(Result::BadEntry, "corrupt central directory");
    }
    return Result::Ok;
}

CHPackageUnpacker::Result CHPackageUnpacker::UnpackOneEntry(Archive& archive, int targetFd) {
    char name[kMaxPackageNameBytes + 1] = {};
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(archive.Get(), &info, name, sizeof(name), nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
        return Fail(Result::BadEntry, "unreadable entry");
    }
    // A name that did not fit is refused, never cut; an embedded NUL makes it shorter than told.
    if (info.size_filename > kMaxPackageNameBytes ||
        std::char_traits<char>::length(name) != info.size_filename) {
        return Fail(Result::BadEntry, "entry name too long or holding NUL");
    }
    std::string relative;
    bool isFolder = false;
    if (!NormalizePackageName(std::string_view(name, info.size_filename), relative, &isFolder)) {
        return Fail(Result::BadEntry, "unsafe entry name: " + std::string(name));
    }
    mode_t unixMode = UnixModeOf(info);
    mode_t type = unixMode & S_IFMT;
    if (type != 0 && type != S_IFREG && type != S_IFDIR) {
        return Fail(Result::BadEntry, "link or special file: " + relative);
    }
    std::vector<std::string> parts = SplitComponents(relative);
    if (isFolder || type == S_IFDIR) {
        UniqueFd folder = OpenFolderBelow(targetFd, parts, true);
        return folder.Valid() ? Result::Ok
                              : Fail(Result::WriteFailed, "cannot create folder " + relative);
    }
    if (info.flag & kFlagEncrypted) {
        return Fail(Result::BadEntry, "encrypted entry: " + relative);
    }
    if (info.compression_method != kMethodStored && info.compression_method != kMethodDeflated) {
        return Fail(Result::BadEntry, "unsupported compression: " + relative);
    }
    std::string leaf = parts.back();
    parts.pop_back();
    UniqueFd folder = OpenFolderBelow(targetFd, parts, true);
    if (!folder.Valid()) {
        return Fail(Result::WriteFailed, "cannot create folder for " + relative);
    }
    // Executable bits survive; setuid, setgid, sticky and group/world write never do.
    mode_t mode = (unixMode & 0111) ? 0755 : 0644;
    UniqueFd file(::openat(folder.Get(), leaf.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!file.Valid()) {
        // EEXIST: a second entry of the same name; either way nothing is overwritten.
        return Fail(errno == EEXIST ? Result::BadEntry : Result::WriteFailed,
                    "cannot create " + relative);
    }
    if (unzOpenCurrentFile(archive.Get()) != UNZ_OK) {
        return Fail(Result::BadEntry, "cannot open entry " + relative);
    }
    int64_t written = 0;
    Result copied = CopyEntryData(archive, file.Get(), written);
    int closed = unzCloseCurrentFile(archive.Get());
    if (copied != Result::Ok) {
        return copied;
    }
    // minizip checks the CRC only when the declared size was reached, so a short stream is
    // caught by its length.
    if (closed != UNZ_OK || static_cast<uint64_t>(written) != info.uncompressed_size) {
        return Fail(Result::BadEntry, "CRC error in " + relative);
    }
    if (::fchmod(file.Get(), mode) != 0) {
        return Fail(Result::WriteFailed, "cannot set the mode of " + relative);
    }
    return Result::Ok;
}

CHPackageUnpacker::Result CHPackageUnpacker::CopyEntryData(Archive& archive, int fileFd,
                                                           int64_t& entryBytes) {
    std::unique_ptr<char[]> buffer(new char[kBlockSize]);
    entryBytes = 0;
    for (;;) {
        int got = unzReadCurrentFile(archive.Get(), buffer.get(), kBlockSize);
        if (got == 0) {
            return Result::Ok;
        }
        if (got < 0) {
            return Fail(Result::BadEntry, "corrupt entry data");
        }
        entryBytes += got;
        m_total += got;
        if (entryBytes > m_limits.maxEntryBytes || m_total > m_limits.maxTotalBytes) {
            return Fail(Result::BadEntry, "entry larger than allowed");
        }
        if (!WriteAll(fileFd, buffer.get(), static_cast<size_t>(got))) {
            return Fail(Result::WriteFailed, "write failed");
        }
    }
}
