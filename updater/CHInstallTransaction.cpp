#include "updater/CHInstallTransaction.h"

#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

#include "updater/SafePaths.h"

namespace {

constexpr char kJournalName[] = "journal";
constexpr char kFilesFolder[] = "files";
constexpr char kDiscardFolder[] = "discard";
constexpr char kJournalHeader[] = "fernlift-journal 1\n";
constexpr char kCommitMark[] = "commit";
constexpr size_t kCopyBlock = 1 << 20;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool SyncFolder(int rootFd, const std::string& relative) {
    UniqueFd folder(relative.empty() ? ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0)
                                     : ::openat(rootFd, relative.c_str(), kFolderFlags));
    return folder.Valid() && ::fsync(folder.Get()) == 0;
}

std::string ParentOf(const std::string& relative) {
    size_t slash = relative.rfind('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

// A short name of our own, so that a long file name cannot make its temporary name too long.
std::string TempLeaf(size_t index) {
    return "." + std::to_string(index) + kTempSuffix;
}

std::string Sibling(const std::string& relative, const std::string& leaf) {
    std::string parent = ParentOf(relative);
    return parent.empty() ? leaf : parent + "/" + leaf;
}

bool Exists(int rootFd, const std::string& relative) {
    struct stat st {};
    return ::fstatat(rootFd, relative.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Copies a file's bytes into an open descriptor and syncs it.
bool CopyContent(int fromFd, int toFd) {
    std::unique_ptr<char[]> buffer(new char[kCopyBlock]);
    for (;;) {
        ssize_t got = ::read(fromFd, buffer.get(), kCopyBlock);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return ::fsync(toFd) == 0;
        }
        if (!WriteAll(toFd, buffer.get(), static_cast<size_t>(got))) {
            return false;
        }
    }
}

// True when the file below both folders is the same file (or, unless sameFileOnly, has the same
// bytes).
bool SameContent(int leftRoot, int rightRoot, const std::string& relative, bool sameFileOnly) {
    UniqueFd left(::openat(leftRoot, relative.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    UniqueFd right(::openat(rightRoot, relative.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat ls {};
    struct stat rs {};
    if (!left.Valid() || !right.Valid() || ::fstat(left.Get(), &ls) != 0 ||
        ::fstat(right.Get(), &rs) != 0 || ls.st_size != rs.st_size) {
        return false;
    }
    if (ls.st_dev == rs.st_dev && ls.st_ino == rs.st_ino) {
        return true;
    }
    if (sameFileOnly) {
        return false;
    }
    std::unique_ptr<char[]> a(new char[kCopyBlock]);
    std::unique_ptr<char[]> b(new char[kCopyBlock]);
    for (;;) {
        ssize_t got = ::read(left.Get(), a.get(), kCopyBlock);
        if (got <= 0) {
            return got == 0;
        }
        ssize_t other = 0;
        while (other < got) {
            ssize_t more = ::read(right.Get(), b.get() + other, static_cast<size_t>(got - other));
            if (more <= 0) {
                return false;
            }
            other += more;
        }
        if (std::memcmp(a.get(), b.get(), static_cast<size_t>(got)) != 0) {
            return false;
        }
    }
}

struct JournalLine {
    std::string operation;
    std::string relative;
};

// Complete lines only: a line cut short by a crash was never acted on.
bool ReadJournal(int backupFd, std::vector<JournalLine>& lines, bool& committed) {
    UniqueFd journal(::openat(backupFd, kJournalName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!journal.Valid()) {
        return errno == ENOENT;
    }
    std::string text;
    char buffer[65536];
    for (ssize_t got; (got = ::read(journal.Get(), buffer, sizeof(buffer))) != 0;) {
        if (got < 0) {
            return false;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    committed = false;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        size_t tab = line.find('\t');
        if (line == kCommitMark) {
            committed = true;
        } else if (tab != std::string::npos) {
            lines.push_back({line.substr(0, tab), line.substr(tab + 1)});
        }
    }
    return true;
}

// Moves files out of the installation into the backup folder instead of deleting them: freeing
// a file's blocks can cost milliseconds (file systems mounted with online discard), a rename
// does not, and the backup folder goes as a whole once the installation is whole again.
class Discarder {
public:
    explicit Discarder(int backupFd) {
        ::mkdirat(backupFd, kDiscardFolder, 0700);
        m_fd.Reset(::openat(backupFd, kDiscardFolder, kFolderFlags));
    }
    bool Discard(int rootFd, const std::string& path) {
        std::string name = std::to_string(::getpid()) + "-" + std::to_string(m_count++);
        if (m_fd.Valid() && ::renameat(rootFd, path.c_str(), m_fd.Get(), name.c_str()) == 0) {
            return true;
        }
        return errno == ENOENT || ::unlinkat(rootFd, path.c_str(), 0) == 0 || errno == ENOENT;
    }

private:
    UniqueFd m_fd;
    size_t m_count = 0;
};

// Undoes one journal line; true when the installation no longer holds its change.
bool UndoLine(int rootFd, int filesFd, Discarder& discarder, const JournalLine& line) {
    const std::string& path = line.relative;
    // Never act on a path that is not a plain relative one (a temporary name carries our
    // reserved suffix, which the check refuses, so it is checked without it).
    std::string checked = path;
    std::string_view suffix = kTempSuffix;
    if (line.operation == "temp" && checked.size() > suffix.size() &&
        checked.compare(checked.size() - suffix.size(), suffix.size(), suffix) == 0) {
        checked.resize(checked.size() - suffix.size());
    }
    std::string clean;
    if (!NormalizePackageName(checked, clean)) {
        return false;
    }
    if (line.operation == "temp" || line.operation == "added") {
        return discarder.Discard(rootFd, path);
    }
    if (line.operation == "mkdir") {
        return ::unlinkat(rootFd, path.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
    }
    if (line.operation == "replaced" || line.operation == "moved") {
        if (filesFd < 0 || !Exists(filesFd, path)) {
            return true; // the change itself never happened
        }
        UniqueFd parent = OpenFolderBelow(rootFd, SplitComponents(ParentOf(path)), true);
        // The new file moves out first (renaming over it would free its blocks); the kept
        // copy stays until it is back in place, so a crash in between is undone next time.
        if (line.operation == "replaced" && !SameContent(rootFd, filesFd, path, true)) {
            discarder.Discard(rootFd, path);
        }
        if (parent.Valid() && ::renameat(filesFd, path.c_str(), rootFd, path.c_str()) == 0) {
            return true;
        }
        // The file was never replaced (the rename over it is what failed): nothing to undo.
        return line.operation == "replaced" && SameContent(rootFd, filesFd, path, false);
    }
    return false;
}

} // namespace

CHInstallTransaction::CHInstallTransaction(fs::path installRoot) : m_root(std::move(installRoot)) {}

CHInstallTransaction::~CHInstallTransaction() {
    ClearBackup();
}

bool CHInstallTransaction::Fail(std::string error) {
    if (m_error.empty()) {
        m_error = std::move(error) + (errno ? std::string(": ") + std::strerror(errno) : "");
    }
    return false;
}

bool CHInstallTransaction::Begin() {
    m_rootFd.Reset(::open(m_root.c_str(), kFolderFlags));
    if (!m_rootFd.Valid()) {
        return Fail("cannot open the installation folder");
    }
    if (::mkdirat(m_rootFd.Get(), kBackupFolderName, 0700) != 0) {
        return Fail("cannot create the backup folder");
    }
    m_backupFd.Reset(::openat(m_rootFd.Get(), kBackupFolderName, kFolderFlags));
    if (!m_backupFd.Valid() || ::mkdirat(m_backupFd.Get(), kFilesFolder, 0700) != 0) {
        return Fail("cannot create the backup folder");
    }
    m_journalFd.Reset(::openat(m_backupFd.Get(), kJournalName,
                               O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC,
                               0600));
    if (!m_journalFd.Valid() ||
        !WriteAll(m_journalFd.Get(), kJournalHeader, sizeof(kJournalHeader) - 1) ||
        ::fsync(m_journalFd.Get()) != 0 || ::fsync(m_backupFd.Get()) != 0 ||
        ::fsync(m_rootFd.Get()) != 0) {
        return Fail("cannot write the journal");
    }
    return true;
}

bool CHInstallTransaction::Journal(const char* operation, const std::string& relative) {
    std::string line = std::string(operation) + "\t" + relative + "\n";
    if (!WriteAll(m_journalFd.Get(), line.data(), line.size()) ||
        ::fdatasync(m_journalFd.Get()) != 0) {
        return Fail("cannot write the journal");
    }
    return true;
}

bool CHInstallTransaction::Change() {
    size_t change = m_changes++;
    if (m_faultHook && !m_faultHook(change)) {
        errno = EIO;
        return Fail("change " + std::to_string(change) + " failed");
    }
    return true;
}

CHInstallTransaction::Result CHInstallTransaction::Apply(const UpgradePlan& plan) {
    m_error.clear();
    m_total = plan.removes.size() + plan.copies.size();
    m_done = 0;
    if (!Begin()) {
        // Nothing was changed; only an empty backup folder of our own may need to go.
        if (m_rootFd.Valid() && m_journalFd.Valid() == false && m_backupFd.Valid()) {
            std::error_code ec;
            fs::remove_all(m_root / kBackupFolderName, ec);
        }
        return Result::RolledBack;
    }
    bool fine = true;
    for (const std::string& relative : plan.removes) {
        fine = fine && RemoveEntry(relative);
        if (fine && m_progress) {
            m_progress(++m_done, m_total);
        }
    }
    for (const UpgradePlan::Copy& copy : plan.copies) {
        fine = fine && CopyEntry(plan, copy);
        if (fine && m_progress) {
            m_progress(++m_done, m_total);
        }
    }
    if (fine && Commit()) {
        return Result::Committed;
    }
    m_journalFd.Reset();
    m_backupFd.Reset();
    if (Restore(m_root, &m_error, false) != Recovery::RolledBack) {
        return Result::RollbackFailed;
    }
    m_backupToClear = true;
    return Result::RolledBack;
}

bool CHInstallTransaction::RemoveEntry(const std::string& relative) {
    if (InspectBelow(m_rootFd.Get(), relative) == EntryKind::Missing) {
        return true;
    }
    std::vector<std::string> parts = SplitComponents(relative);
    std::string leaf = parts.back();
    parts.pop_back();
    UniqueFd parent = OpenFolderBelow(m_rootFd.Get(), parts, false);
    UniqueFd filesFd(::openat(m_backupFd.Get(), kFilesFolder, kFolderFlags));
    UniqueFd backupParent = OpenFolderBelow(filesFd.Get(), parts, true, 0700);
    if (!parent.Valid() || !backupParent.Valid()) {
        return Fail("cannot reach " + relative);
    }
    if (!Journal("moved", relative) || !Change()) {
        return false;
    }
    if (::renameat(parent.Get(), leaf.c_str(), backupParent.Get(), leaf.c_str()) != 0) {
        return Fail("cannot remove " + relative);
    }
    m_touchedFolders.push_back(ParentOf(relative));
    return true;
}

bool CHInstallTransaction::MakeParents(const std::vector<std::string>& parts, UniqueFd& parent) {
    parent.Reset(::fcntl(m_rootFd.Get(), F_DUPFD_CLOEXEC, 0));
    std::string relative;
    for (const std::string& name : parts) {
        relative += (relative.empty() ? "" : "/") + name;
        int next = ::openat(parent.Get(), name.c_str(), kFolderFlags);
        if (next < 0 && errno == ENOENT) {
            if (!Journal("mkdir", relative) || !Change() ||
                ::mkdirat(parent.Get(), name.c_str(), 0755) != 0) {
                return Fail("cannot create folder " + relative);
            }
            m_touchedFolders.push_back(ParentOf(relative));
            next = ::openat(parent.Get(), name.c_str(), kFolderFlags);
        }
        if (next < 0) {
            return Fail("cannot open folder " + relative);
        }
        parent.Reset(next);
    }
    return true;
}

bool CHInstallTransaction::WriteTemp(const fs::path& source, int parentFd, const std::string& temp,
                                     const std::string& leaf) {
    UniqueFd from(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat sourceStat {};
    if (!from.Valid() || ::fstat(from.Get(), &sourceStat) != 0 || !S_ISREG(sourceStat.st_mode)) {
        return Fail("cannot read " + source.string());
    }
    // An old file keeps its owner and executable bits; nothing is setuid or writable by others.
    mode_t mode = sourceStat.st_mode & 0755;
    struct stat old {};
    bool hadOld =
        ::fstatat(parentFd, leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
    if (hadOld && (old.st_mode & 0111)) {
        mode |= 0111;
    }
    ::unlinkat(parentFd, temp.c_str(), 0); // a leftover of a crashed run
    UniqueFd to(::openat(parentFd, temp.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!to.Valid()) {
        return Fail("cannot create " + temp);
    }
    if (hadOld && ::geteuid() == 0 && ::fchown(to.Get(), old.st_uid, old.st_gid) != 0) {
        return Fail("cannot keep the owner of " + leaf);
    }
    if (::fchmod(to.Get(), mode) != 0 || !CopyContent(from.Get(), to.Get())) {
        return Fail("cannot write " + temp);
    }
    return true;
}

bool CHInstallTransaction::KeepBackup(int parentFd, const std::string& leaf,
                                      const std::string& relative) {
    std::vector<std::string> parts = SplitComponents(relative);
    parts.pop_back();
    UniqueFd filesFd(::openat(m_backupFd.Get(), kFilesFolder, kFolderFlags));
    UniqueFd backupParent = OpenFolderBelow(filesFd.Get(), parts, true, 0700);
    if (!backupParent.Valid()) {
        return Fail("cannot create the backup of " + relative);
    }
    // A hard link keeps the old file at no cost; where links are refused, a synced copy.
    if (::linkat(parentFd, leaf.c_str(), backupParent.Get(), leaf.c_str(), 0) != 0) {
        UniqueFd from(::openat(parentFd, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        UniqueFd to(from.Valid() && ::fstat(from.Get(), &st) == 0
                        ? ::openat(backupParent.Get(), leaf.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                   st.st_mode & 0777)
                        : -1);
        if (!to.Valid() || !CopyContent(from.Get(), to.Get())) {
            return Fail("cannot back up " + relative);
        }
    }
    if (::fsync(backupParent.Get()) != 0) {
        return Fail("cannot sync the backup of " + relative);
    }
    return true;
}

bool CHInstallTransaction::CopyEntry(const UpgradePlan& plan, const UpgradePlan::Copy& copy) {
    std::vector<std::string> parts = SplitComponents(copy.destination);
    std::string leaf = parts.back();
    parts.pop_back();
    UniqueFd parent;
    if (!MakeParents(parts, parent)) {
        return false;
    }
    std::string temp = TempLeaf(m_changes);
    if (!Journal("temp", Sibling(copy.destination, temp)) || !Change() ||
        !WriteTemp(plan.packageRoot / copy.source, parent.Get(), temp, leaf)) {
        return false;
    }
    EntryKind kind = InspectBelow(parent.Get(), leaf);
    if (kind == EntryKind::File || kind == EntryKind::Link) {
        if (!Journal("replaced", copy.destination) || !Change() ||
            !KeepBackup(parent.Get(), leaf, copy.destination)) {
            return false;
        }
    } else if (kind != EntryKind::Missing) {
        return Fail("cannot replace " + copy.destination);
    } else if (!Journal("added", copy.destination) || !Change()) {
        return false;
    }
    if (::renameat(parent.Get(), temp.c_str(), parent.Get(), leaf.c_str()) != 0) {
        return Fail("cannot put " + copy.destination + " in place");
    }
    m_touchedFolders.push_back(ParentOf(copy.destination));
    return true;
}

bool CHInstallTransaction::Commit() {
    std::sort(m_touchedFolders.begin(), m_touchedFolders.end());
    m_touchedFolders.erase(std::unique(m_touchedFolders.begin(), m_touchedFolders.end()),
                           m_touchedFolders.end());
    for (const std::string& folder : m_touchedFolders) {
        if (!SyncFolder(m_rootFd.Get(), folder)) {
            return Fail("cannot sync " + folder);
        }
    }
    std::string mark = std::string(kCommitMark) + "\n";
    if (!WriteAll(m_journalFd.Get(), mark.data(), mark.size()) || ::fsync(m_journalFd.Get()) != 0) {
        return Fail("cannot write the commit mark");
    }
    m_journalFd.Reset();
    m_backupFd.Reset();
    m_backupToClear = true; // the old files are no longer needed
    return true;
}

void CHInstallTransaction::ClearBackup() {
    if (m_backupToClear) {
        m_backupToClear = false;
        Recover(m_root);
    }
}

CHInstallTransaction::Recovery CHInstallTransaction::Recover(const fs::path& installRoot,
                                                             std::string* error) {
    return Restore(installRoot, error, true);
}

CHInstallTransaction::Recovery CHInstallTransaction::Restore(const fs::path& installRoot,
                                                             std::string* error, bool clear) {
    UniqueFd rootFd(::open(installRoot.c_str(), kFolderFlags));
    UniqueFd backupFd(rootFd.Valid() ? ::openat(rootFd.Get(), kBackupFolderName, kFolderFlags)
                                     : -1);
    if (!backupFd.Valid()) {
        return Recovery::Nothing;
    }
    std::vector<JournalLine> lines;
    bool committed = false;
    if (!ReadJournal(backupFd.Get(), lines, committed)) {
        if (error) {
            *error = "unreadable journal";
        }
        return Recovery::Failed;
    }
    bool undone = true;
    if (!committed) {
        UniqueFd filesFd(::openat(backupFd.Get(), kFilesFolder, kFolderFlags));
        Discarder discarder(backupFd.Get());
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
            if (!UndoLine(rootFd.Get(), filesFd.Get(), discarder, *line)) {
                undone = false;
                if (error && error->empty()) {
                    *error = "cannot undo " + line->operation + " " + line->relative;
                }
            }
        }
        // Each folder once: a rollback of thousands of files stays fast.
        std::vector<std::string> folders;
        for (const JournalLine& line : lines) {
            folders.push_back(ParentOf(line.relative));
        }
        std::sort(folders.begin(), folders.end());
        folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
        for (const std::string& folder : folders) {
            SyncFolder(rootFd.Get(), folder);
        }
    }
    if (!undone) {
        return Recovery::Failed; // the journal stays for another attempt
    }
    if (!clear) {
        // Undoing again is harmless, so the journal may stay until ClearBackup.
        return committed ? Recovery::Cleaned : Recovery::RolledBack;
    }
    std::error_code ec;
    fs::remove_all(installRoot / kBackupFolderName, ec);
    ::fsync(rootFd.Get());
    if (ec) {
        if (error) {
            *error = "cannot remove the backup folder";
        }
        return Recovery::Failed;
    }
    return committed ? Recovery::Cleaned : Recovery::RolledBack;
}
