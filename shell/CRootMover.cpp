#include "shell/CRootMover.h"

#include "shell/StoragePaths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

namespace {

bool IsSameOrBelow(const fs::path& path, const fs::path& dir) {
    auto [d, p] = std::mismatch(dir.begin(), dir.end(), path.begin(), path.end());
    return d == dir.end();
}

// Resolves links in the part of the path that exists, so that two spellings of one folder
// compare equal.
fs::path Resolved(const fs::path& path) {
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(path, ec);
    return ec ? path : NormalizeRoot(resolved);
}

bool IsEmptyFolder(const fs::path& folder) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(folder, ec)) && fs::is_empty(folder, ec) && !ec;
}

bool ExistsNoFollow(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

std::string ErrorText(const std::string& what, const fs::path& path, int error) {
    return what + " " + path.string() + ": " + std::strerror(error);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    bool Close() {
        int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool CopyRegularFile(const fs::path& source, const fs::path& target, const struct stat& info,
                     std::string& reason) {
    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0) {
        reason = ErrorText("cannot read", source, errno);
        return false;
    }
    FileDescriptor out(
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777));
    if (out.Get() < 0) {
        reason = ErrorText("cannot create", target, errno);
        return false;
    }
    std::vector<char> buffer(1 << 20);
    off_t total = 0;
    for (;;) {
        ssize_t got = ::read(in.Get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            reason = ErrorText("cannot read", source, errno);
            return false;
        }
        if (got == 0) {
            break;
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put = ::write(out.Get(), buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR) {
                    continue;
                }
                reason = ErrorText("cannot write", target, errno);
                return false;
            }
            done += put;
        }
        total += got;
    }
    struct stat written {};
    if (::fsync(out.Get()) != 0 || ::fstat(out.Get(), &written) != 0) {
        reason = ErrorText("cannot flush", target, errno);
        return false;
    }
    if (written.st_size != info.st_size || total != info.st_size) {
        reason = "size check failed for " + target.string();
        return false;
    }
    struct timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(out.Get(), times);
    if (!out.Close()) {
        reason = ErrorText("cannot close", target, errno);
        return false;
    }
    return true;
}

bool CopyAny(const fs::path& source, const fs::path& target, std::string& reason) {
    struct stat info {};
    if (::lstat(source.c_str(), &info) != 0) {
        reason = ErrorText("cannot read", source, errno);
        return false;
    }
    if (S_ISREG(info.st_mode)) {
        return CopyRegularFile(source, target, info, reason);
    }
    if (S_ISLNK(info.st_mode)) {
        std::error_code ec;
        fs::path link = fs::read_symlink(source, ec);
        if (!ec) {
            fs::create_symlink(link, target, ec);
        }
        if (ec) {
            reason = "cannot copy the link " + source.string() + ": " + ec.message();
            return false;
        }
        return true;
    }
    if (S_ISDIR(info.st_mode)) {
        if (::mkdir(target.c_str(), (info.st_mode & 07777) | S_IRWXU) != 0) {
            reason = ErrorText("cannot create", target, errno);
            return false;
        }
        std::error_code ec;
        std::vector<fs::path> names;
        for (fs::directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) {
            names.push_back(it->path().filename());
        }
        if (ec) {
            reason = "cannot list " + source.string() + ": " + ec.message();
            return false;
        }
        for (const fs::path& name : names) {
            if (!CopyAny(source / name, target / name, reason)) {
                return false;
            }
        }
        return true;
    }
    reason = "cannot copy the special file " + source.string();
    return false;
}

} // namespace

bool CopyTreeChecked(const fs::path& source, const fs::path& target, std::string& reason) {
    if (ExistsNoFollow(target)) {
        reason = target.string() + " exists already";
        return false;
    }
    if (CopyAny(source, target, reason)) {
        return true;
    }
    std::error_code ec;
    fs::remove_all(target, ec);
    return false;
}

CRootMover::CRootMover(const fs::path& oldRoot, const fs::path& newRoot)
    : m_oldRoot(NormalizeRoot(oldRoot)), m_newRoot(NormalizeRoot(newRoot)) {}

RootMoveStatus CRootMover::CheckPlaces(std::string& reason) const {
    if (m_newRoot.empty()) {
        reason = "no storage folder given";
        return RootMoveStatus::Refused;
    }
    fs::path oldResolved = Resolved(m_oldRoot);
    fs::path newResolved = Resolved(m_newRoot);
    if (m_oldRoot == m_newRoot || oldResolved == newResolved) {
        return RootMoveStatus::SameRoot;
    }
    if (IsSameOrBelow(newResolved, oldResolved)) {
        reason = "the new storage folder lies inside the current one";
        return RootMoveStatus::Refused;
    }
    if (IsSameOrBelow(oldResolved, newResolved)) {
        reason = "the current storage folder lies inside the new one";
        return RootMoveStatus::Refused;
    }
    std::error_code ec;
    if (ExistsNoFollow(m_newRoot) && !fs::is_directory(m_newRoot, ec)) {
        reason = m_newRoot.string() + " is not a folder";
        return RootMoveStatus::Refused;
    }
    return RootMoveStatus::Moved;
}

bool CRootMover::TargetHoldsLibrary() const {
    return !m_newRoot.empty() && ExistsNoFollow(m_newRoot / kLibraryFileName);
}

RootMoveStatus CRootMover::CheckAdopt(std::string& reason) const {
    RootMoveStatus status = CheckPlaces(reason);
    if (status != RootMoveStatus::Moved) {
        return status;
    }
    std::error_code ec;
    if (!TargetHoldsLibrary() || !fs::is_regular_file(m_newRoot / kLibraryFileName, ec)) {
        reason = m_newRoot.string() + " holds no library";
        return RootMoveStatus::Refused;
    }
    return RootMoveStatus::Moved;
}

RootMoveStatus CRootMover::Check(std::string& reason) const {
    RootMoveStatus status = CheckPlaces(reason);
    if (status != RootMoveStatus::Moved) {
        return status;
    }
    if (TargetHoldsLibrary()) {
        reason = m_newRoot.string() + " already holds a library";
        return RootMoveStatus::Refused;
    }
    for (const char* folder : {kReposFolderName, kThumbFolderName}) {
        fs::path target = m_newRoot / folder;
        if (ExistsNoFollow(target) && !IsEmptyFolder(target)) {
            reason = target.string() + " exists and is not empty";
            return RootMoveStatus::Refused;
        }
    }
    return RootMoveStatus::Moved;
}

bool CRootMover::MoveItem(const fs::path& source, const fs::path& target, std::string& reason) {
    if (!m_forceCopy) {
        if (::rename(source.c_str(), target.c_str()) == 0) {
            m_done.push_back(Step{source, target, false});
            return true;
        }
        if (errno != EXDEV) {
            reason = ErrorText("cannot move", source, errno);
            return false;
        }
    }
    // Across file systems: the source stays until the whole move has been committed.
    if (!CopyTreeChecked(source, target, reason)) {
        return false;
    }
    m_done.push_back(Step{source, target, true});
    return true;
}

void CRootMover::Undo() {
    for (auto it = m_done.rbegin(); it != m_done.rend(); ++it) {
        std::error_code ec;
        if (it->copied) {
            fs::remove_all(it->target, ec);
        } else {
            ::rename(it->target.c_str(), it->source.c_str());
        }
    }
    m_done.clear();
}

RootMoveStatus CRootMover::Move(const std::function<bool()>& commit, std::string& reason) {
    RootMoveStatus status = Check(reason);
    if (status != RootMoveStatus::Moved) {
        return status;
    }
    m_done.clear();
    std::error_code ec;
    bool createdRoot = !ExistsNoFollow(m_newRoot);
    fs::create_directories(m_newRoot, ec);
    if (ec) {
        reason = "cannot create " + m_newRoot.string() + ": " + ec.message();
        return RootMoveStatus::Failed;
    }
    // Empty Repos/Thumb placeholders at the target give way to the real folders.
    for (const char* folder : {kReposFolderName, kThumbFolderName}) {
        fs::path target = m_newRoot / folder;
        if (IsEmptyFolder(target)) {
            fs::remove(target, ec);
        }
    }

    std::string library = kLibraryFileName;
    const std::vector<std::string> items = {library,          library + "-wal",
                                            library + "-shm", library + "-journal",
                                            kReposFolderName, kThumbFolderName};
    bool ok = true;
    for (const std::string& item : items) {
        fs::path source = m_oldRoot / item;
        if (!ExistsNoFollow(source)) {
            continue;
        }
        if (!MoveItem(source, m_newRoot / item, reason)) {
            ok = false;
            break;
        }
    }
    if (ok && commit && !commit()) {
        reason = "the new storage folder could not be recorded";
        ok = false;
    }
    if (!ok) {
        Undo();
        if (createdRoot) {
            fs::remove(m_newRoot, ec); // only when empty
        }
        return RootMoveStatus::Failed;
    }
    for (const Step& step : m_done) {
        if (step.copied) {
            fs::remove_all(step.source, ec);
        }
    }
    m_done.clear();
    return RootMoveStatus::Moved;
}
