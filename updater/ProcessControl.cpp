#include "updater/ProcessControl.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/FileSystem.h"
#include "updater/UniqueFd.h"

namespace {

constexpr int kKillWaitMs = 5000;

int PidfdOpen(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool PidfdSignal(int pidfd, int signal) {
    return ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
}

// A pidfd becomes readable when its process has ended.
bool WaitGone(int pidfd, int timeoutMs) {
    pollfd p{pidfd, POLLIN, 0};
    for (;;) {
        int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0;
    }
}

pid_t LargestPid() {
    std::ifstream in("/proc/sys/kernel/pid_max");
    long value = 0;
    return (in >> value) && value > 1 && value <= INT_MAX ? static_cast<pid_t>(value) : 4194304;
}

bool RealAndEffectiveUidAre(pid_t pid, uid_t uid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Uid:", 0) == 0) {
            std::istringstream fields(line.substr(4));
            long real = -1;
            long effective = -1;
            fields >> real >> effective;
            return real == static_cast<long>(uid) && effective == static_cast<long>(uid);
        }
    }
    return false;
}

std::vector<std::string> ReadArguments(pid_t pid) {
    std::string text;
    ReadWholeFile("/proc/" + std::to_string(pid) + "/cmdline", text);
    std::vector<std::string> arguments;
    size_t start = 0;
    for (size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
        arguments.push_back(text.substr(start, end - start));
    }
    if (!arguments.empty()) {
        arguments.erase(arguments.begin());
    }
    return arguments;
}

} // namespace

pid_t ParseProcessId(const std::string& text) {
    if (text.empty() || text.size() > 10) {
        return -1;
    }
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= LargestPid() ? static_cast<pid_t>(value) : -1;
}

bool SameFile(const fs::path& a, const fs::path& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

CHProcessEnder::Result CHProcessEnder::End(pid_t pid, const fs::path& program) {
    m_arguments.clear();
    UniqueFd pidfd(PidfdOpen(pid));
    if (!pidfd.Valid()) {
        return errno == ESRCH ? Result::NotRunning : Result::NotOurs;
    }
    // /proc/<pid> is read after the pidfd was taken; if the process ended in between, the pidfd
    // says so, and what /proc showed may belong to a newer process, so nothing is signalled.
    fs::path exe = "/proc/" + std::to_string(pid) + "/exe";
    bool ours = SameFile(exe, program) && RealAndEffectiveUidAre(pid, ::getuid());
    std::vector<std::string> arguments = ReadArguments(pid);
    if (WaitGone(pidfd.Get(), 0)) {
        return Result::NotRunning;
    }
    if (!ours) {
        return Result::NotOurs;
    }
    m_arguments = std::move(arguments);
    if (!PidfdSignal(pidfd.Get(), SIGTERM)) {
        return errno == ESRCH ? Result::Ended : Result::Failed;
    }
    if (WaitGone(pidfd.Get(), m_termGraceMs)) {
        return Result::Ended;
    }
    PidfdSignal(pidfd.Get(), SIGKILL);
    return WaitGone(pidfd.Get(), kKillWaitMs) ? Result::Ended : Result::Failed;
}
