#include "updater/InstallGuard.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "platform/Folders.h"

extern char** environ;

namespace {

constexpr std::array kSharedFolders = {
    "/",
    "/bin",
    "/sbin",
    "/lib",
    "/lib32",
    "/lib64",
    "/usr",
    "/usr/bin",
    "/usr/sbin",
    "/usr/lib",
    "/usr/lib32",
    "/usr/lib64",
    "/usr/libexec",
    "/usr/games",
    "/usr/local",
    "/usr/local/bin",
    "/usr/local/sbin",
    "/usr/local/lib",
    "/usr/local/games",
    "/usr/share",
    "/etc",
    "/opt",
    "/var",
    "/tmp",
    "/boot",
    "/dev",
    "/proc",
    "/sys",
    "/run",
    "/home",
    "/root",
    "/srv",
    "/snap/bin",
};

int RunQuietly(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = arguments;
    std::vector<char*> argp;
    for (std::string& a : argv) {
        argp.push_back(a.data());
    }
    argp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int started = ::posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

bool IsSharedSystemFolder(const fs::path& folder) {
    std::error_code ec;
    fs::path real = fs::weakly_canonical(folder, ec);
    if (ec) {
        real = folder.lexically_normal();
    }
    for (const char* shared : kSharedFolders) {
        if (real == fs::path(shared) || folder.lexically_normal() == fs::path(shared)) {
            return true;
        }
    }
    return false;
}

bool IsOwnedByPackageManager(const fs::path& file) {
    std::error_code ec;
    fs::path real = fs::canonical(file, ec);
    if (RunQuietly({"dpkg", "-S", file.string()}) == 0) {
        return true;
    }
    return !ec && real != file && RunQuietly({"dpkg", "-S", real.string()}) == 0;
}

std::string RefuseInstallReason(const fs::path& program) {
    if (IsSharedSystemFolder(program.parent_path())) {
        return "the program lies in a shared system folder";
    }
    if (IsOwnedByPackageManager(program)) {
        return "the program belongs to an installed Debian package";
    }
    return {};
}

PrivateTempDir::PrivateTempDir() {
    std::string pattern = (GetTempDir() / "fernlift-XXXXXX").string();
    if (::mkdtemp(pattern.data())) {
        m_path = pattern;
    }
}

PrivateTempDir::~PrivateTempDir() {
    if (!m_path.empty()) {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
}

bool CHRunLock::Acquire() {
    // Never a shared folder such as /tmp, where another user could hold the name.
    fs::path folder = GetRuntimeDir();
    if (folder.empty() || folder == "/tmp") {
        const char* home = std::getenv("HOME");
        folder = home && *home ? fs::path(home) / ".cache" : fs::path();
        std::error_code ec;
        fs::create_directories(folder, ec);
    }
    return !folder.empty() && Acquire(folder / "fernlift.lock");
}

bool CHRunLock::Acquire(const fs::path& lockFile) {
    m_fd.Reset(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!m_fd.Valid() || ::flock(m_fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        m_fd.Reset();
        return false;
    }
    return true;
}
