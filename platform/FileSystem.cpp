#include "platform/FileSystem.h"

#include "platform/Folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Small descriptor helpers

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }
    bool Close() {
        if (m_fd < 0) {
            return true;
        }
        int rc = ::close(m_fd);
        m_fd = -1;
        return rc == 0;
    }

private:
    int m_fd;
};

int OpenRetry(const char* path, int flags, mode_t mode = 0) {
    for (;;) {
        int fd = ::open(path, flags | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EINTR) {
            return fd;
        }
    }
}

bool Exists(const fs::path& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool EnsureParent(const fs::path& path) {
    fs::path parent = path.parent_path();
    if (parent.empty()) {
        return true;
    }
    std::error_code ec;
    fs::create_directories(parent, ec);
    return fs::is_directory(parent, ec);
}

void SyncDir(const fs::path& dir) {
    Fd fd(OpenRetry(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY));
    if (fd.ok()) {
        ::fsync(fd.get());
    }
}

// ---------------------------------------------------------------------------------------------
// Copying without overwriting: every destination is created exclusively.

bool CopyData(int in, int out) {
    // copy_file_range lets the kernel (or the file system: reflinks) do the work; it may be
    // refused across file systems on older kernels, then plain read/write takes over.
    bool useRange = true;
    for (;;) {
        if (useRange) {
            ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0) {
                continue;
            }
            if (n == 0) {
                return true;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                errno == EPERM || errno == EBADF) {
                useRange = false;
                continue;
            }
            return false;
        }
        std::vector<char> buffer(1 << 20);
        for (;;) {
            ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            if (n == 0) {
                return true;
            }
            if (!WriteAll(out, buffer.data(), static_cast<size_t>(n))) {
                return false;
            }
        }
    }
}

bool CopyRegular(const fs::path& source, const fs::path& destination, const struct stat& st) {
    Fd in(OpenRetry(source.c_str(), O_RDONLY));
    if (!in.ok()) {
        return false;
    }
    Fd out(
        OpenRetry(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL, (st.st_mode & 07777) | 0600));
    if (!out.ok()) {
        return false;
    }
    bool ok = CopyData(in.get(), out.get());
    if (ok) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.get(), times); // keep the file time, as the shell copy does
        ::fchmod(out.get(), st.st_mode & 07777);
        ok = ::fsync(out.get()) == 0;
    }
    ok = out.Close() && ok;
    if (!ok) {
        ::unlink(destination.c_str());
    }
    return ok;
}

bool CopyAny(const fs::path& source, const fs::path& destination);

bool CopyTree(const fs::path& source, const fs::path& destination, const struct stat& st) {
    if (::mkdir(destination.c_str(), (st.st_mode & 07777) | 0700) != 0) {
        return false;
    }
    bool ok = true;
    DIR* dir = ::opendir(source.c_str());
    if (dir == nullptr) {
        ok = false;
    } else {
        while (ok) {
            errno = 0;
            struct dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                ok = errno == 0;
                break;
            }
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
                continue;
            }
            ok = CopyAny(source / entry->d_name, destination / entry->d_name);
        }
        ::closedir(dir);
    }
    if (ok) {
        ::chmod(destination.c_str(), st.st_mode & 07777);
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(AT_FDCWD, destination.c_str(), times, 0);
        SyncDir(destination);
    } else {
        std::error_code ec;
        fs::remove_all(destination, ec); // it did not exist before: everything in it is ours
    }
    return ok;
}

bool CopyAny(const fs::path& source, const fs::path& destination) {
    struct stat st;
    if (::lstat(source.c_str(), &st) != 0) {
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        return CopyRegular(source, destination, st);
    }
    if (S_ISDIR(st.st_mode)) {
        return CopyTree(source, destination, st);
    }
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        fs::path target = fs::read_symlink(source, ec);
        return !ec && ::symlink(target.c_str(), destination.c_str()) == 0;
    }
    return false; // devices, sockets and pipes are not copied
}

// rename(2) that refuses to replace; EINVAL means the file system cannot promise that, then
// the check is done by hand just before.
int RenameNoReplace(const fs::path& source, const fs::path& destination) {
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) ==
        0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    if (Exists(destination)) {
        return EEXIST;
    }
    if (::rename(source.c_str(), destination.c_str()) == 0) {
        return 0;
    }
    return errno;
}

bool MoveAny(const fs::path& source, const fs::path& destination) {
    if (source.empty() || destination.empty() || !Exists(source) || Exists(destination)) {
        return false;
    }
    if (!EnsureParent(destination)) {
        return false;
    }
    int err = RenameNoReplace(source, destination);
    if (err == 0) {
        return true;
    }
    if (err != EXDEV) {
        return false;
    }
    // Across file systems: copy (each file flushed), then remove the source.
    if (!CopyAny(source, destination)) {
        return false;
    }
    SyncDir(destination.parent_path());
    std::error_code ec;
    fs::remove_all(source, ec);
    return !ec;
}

// ---------------------------------------------------------------------------------------------
// freedesktop.org Trash

std::string UrlEscapePath(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::strchr("-_.!~*'()/", c) != nullptr) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string DeletionDate() {
    std::time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

bool MakePrivateDir(const fs::path& dir) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) {
        return true;
    }
    fs::create_directories(dir, ec);
    ::chmod(dir.c_str(), 0700);
    return fs::is_directory(dir, ec);
}

// A trash folder with files/ and info/; infoPath is the Path= value to record.
struct TrashTarget {
    fs::path root;
    std::string infoPath;
};

// The mount point holding path: the highest ancestor on the same device.
fs::path TopDir(const fs::path& path, dev_t device) {
    fs::path current = path.parent_path();
    for (;;) {
        fs::path parent = current.parent_path();
        struct stat st;
        if (parent == current || ::stat(parent.c_str(), &st) != 0 || st.st_dev != device) {
            return current;
        }
        current = parent;
    }
}

bool TrashInto(const TrashTarget& target, const fs::path& path, bool allowCopy) {
    fs::path files = target.root / "files";
    fs::path info = target.root / "info";
    if (!MakePrivateDir(files) || !MakePrivateDir(info)) {
        return false;
    }
    const fs::path name = path.filename();
    const std::string stem = name.stem().string();
    const std::string ext = name.extension().string();
    const std::string content = "[Trash Info]\nPath=" + UrlEscapePath(target.infoPath) +
                                "\nDeletionDate=" + DeletionDate() + "\n";
    for (int n = 1; n < 100000; ++n) {
        std::string candidate = n == 1 ? name.string()
                                       : (stem.empty() ? name.string() + "." + std::to_string(n)
                                                       : stem + "." + std::to_string(n) + ext);
        fs::path infoFile = info / (candidate + ".trashinfo");
        fs::path trashed = files / candidate;
        // The .trashinfo file is created exclusively first: it reserves the name.
        Fd fd(OpenRetry(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
        if (!fd.ok()) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        if (Exists(trashed)) {
            fd.Close();
            ::unlink(infoFile.c_str());
            continue;
        }
        bool written = WriteAll(fd.get(), content.data(), content.size()) && ::fsync(fd.get()) == 0;
        written = fd.Close() && written;
        if (!written) {
            ::unlink(infoFile.c_str());
            return false;
        }
        int err = RenameNoReplace(path, trashed);
        if (err == 0) {
            return true;
        }
        if (err == EXDEV && allowCopy && CopyAny(path, trashed)) {
            std::error_code ec;
            fs::remove_all(path, ec);
            if (!ec) {
                return true;
            }
            fs::remove_all(trashed, ec); // the source could not be removed: undo the copy
        }
        ::unlink(infoFile.c_str());
        if (err == EEXIST) {
            continue;
        }
        return false;
    }
    return false;
}

} // namespace

bool ReadWholeFile(const fs::path& path, std::string& out) {
    out.clear();
    Fd fd(OpenRetry(path.c_str(), O_RDONLY));
    if (!fd.ok()) {
        return false;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    size_t expected = S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
    // Read straight into the string: the file size first, then grow if the file grew.
    out.resize(expected > 0 ? expected : 40960);
    size_t used = 0;
    for (;;) {
        if (used == out.size()) {
            out.resize(out.size() < 40960 ? 40960 : out.size() * 2);
        }
        ssize_t n = ::read(fd.get(), out.data() + used, out.size() - used);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            out.resize(used);
            return false;
        }
        if (n == 0) {
            break;
        }
        used += static_cast<size_t>(n);
    }
    out.resize(used);
    return true;
}

int64_t FileSize64(const fs::path& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return 0;
    }
    return static_cast<int64_t>(st.st_size);
}

bool WriteWholeFile(const fs::path& path, std::string_view bytes) {
    Fd fd(OpenRetry(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
    if (!fd.ok()) {
        return false;
    }
    bool ok = WriteAll(fd.get(), bytes.data(), bytes.size());
    return fd.Close() && ok;
}

bool CopyFileTo(const fs::path& source, const fs::path& destination) {
    if (source.empty() || destination.empty() || !Exists(source) || Exists(destination)) {
        return false;
    }
    if (!EnsureParent(destination)) {
        return false;
    }
    return CopyAny(source, destination);
}

bool SyncPath(const fs::path& path) {
    Fd fd(OpenRetry(path.c_str(), O_RDONLY | O_NOFOLLOW));
    return fd.ok() && ::fsync(fd.get()) == 0;
}

bool MoveFileTo(const fs::path& source, const fs::path& destination) {
    return MoveAny(source, destination);
}

bool RenameFile(const fs::path& source, const fs::path& destination) {
    return MoveAny(source, destination);
}

bool DeleteToRecycleBin(const fs::path& path) {
    if (path.empty()) {
        return false;
    }
    std::error_code ec;
    fs::path full = fs::absolute(path, ec).lexically_normal();
    if (ec) {
        return false;
    }
    if (full.filename().empty()) {
        full = full.parent_path(); // "dir/" names the folder itself
    }
    if (full.filename().empty() || full == full.root_path()) {
        return false;
    }
    struct stat st;
    if (::lstat(full.c_str(), &st) != 0) {
        return false;
    }
    fs::path dataHome = GetDataHomeDir();
    if (dataHome.empty()) {
        return false;
    }
    fs::path homeTrash = dataHome / "Trash";
    MakePrivateDir(homeTrash);
    struct stat trashStat;
    bool sameDevice = ::stat(homeTrash.c_str(), &trashStat) == 0 && trashStat.st_dev == st.st_dev;
    if (!sameDevice) {
        // Another file system: its own trash at the top of the mount ($topdir/.Trash/$uid when
        // the administrator made one, else $topdir/.Trash-$uid), with a relative Path=.
        fs::path top = TopDir(full, st.st_dev);
        std::string relative = full.lexically_relative(top).string();
        const std::string uid = std::to_string(::getuid());
        fs::path shared = top / ".Trash";
        struct stat sharedStat;
        if (::lstat(shared.c_str(), &sharedStat) == 0 && S_ISDIR(sharedStat.st_mode) &&
            (sharedStat.st_mode & S_ISVTX) != 0 &&
            TrashInto({shared / uid, relative}, full, false)) {
            return true;
        }
        if (TrashInto({top / (".Trash-" + uid), relative}, full, false)) {
            return true;
        }
    }
    return TrashInto({homeTrash, full.string()}, full, true);
}

fs::path MakeUniqueName(const fs::path& wanted) {
    if (wanted.empty() || !Exists(wanted)) {
        return wanted;
    }
    const fs::path parent = wanted.parent_path();
    const std::string stem = wanted.stem().string();
    const std::string ext = wanted.extension().string();
    for (long n = 2;; ++n) {
        fs::path candidate = parent / (stem + " (" + std::to_string(n) + ")" + ext);
        if (!Exists(candidate)) {
            return candidate;
        }
    }
}

bool WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}
