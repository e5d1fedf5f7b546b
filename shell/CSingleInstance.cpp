#include "shell/CSingleInstance.h"

#include "platform/Folders.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kShowRequest = "show\n";
constexpr const char* kShowAnswer = "ok\n";

// The socket path must fit sockaddr_un.
bool FillAddress(const fs::path& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.empty() || text.size() >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

// Reads up to one line within the time limit.
std::string ReadLine(int fd, int timeoutMs) {
    std::string line;
    char c = 0;
    while (line.size() < 64) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) {
            break;
        }
        ssize_t got = ::read(fd, &c, 1);
        if (got <= 0) {
            break;
        }
        line.push_back(c);
        if (c == '\n') {
            break;
        }
    }
    return line;
}

bool WriteAll(int fd, const char* text) {
    size_t length = std::strlen(text);
    while (length > 0) {
        ssize_t put = ::send(fd, text, length, MSG_NOSIGNAL);
        if (put <= 0) {
            return false;
        }
        text += put;
        length -= static_cast<size_t>(put);
    }
    return true;
}

} // namespace

CSingleInstance::CSingleInstance(const fs::path& folder) {
    fs::path dir = folder;
    if (dir.empty()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (runtime != nullptr && runtime[0] == '/') {
            dir = GetRuntimeDir();
        } else {
            // Not in the shared /tmp, where another user could plant the lock file or a link
            // in its place: in the user's own cache folder.
            fs::path cache = GetCacheDir();
            if (!cache.empty()) {
                dir = cache / "Vellumo";
                std::error_code ec;
                fs::create_directories(dir, ec);
                ::chmod(dir.c_str(), 0700);
            }
        }
    }
    m_lockPath = dir / "VellumoMutex.lock";
    m_socketPath = dir / "VellumoMutex.sock";
}

CSingleInstance::~CSingleInstance() {
    if (m_wakeFd >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(m_wakeFd, &one, sizeof(one));
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        if (m_owner) {
            ::unlink(m_socketPath.c_str());
        }
    }
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd); // releases the flock
    }
}

CSingleInstance::Result CSingleInstance::Acquire() {
    if (m_owner) {
        return Result::Acquired;
    }
    int fd = ::open(m_lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return Result::Failed;
    }
    // A lock file of another user (or no regular file) is not ours to trust.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? Result::AlreadyRunning : Result::Failed;
    }
    m_lockFd = fd;
    m_owner = true;
    std::string pid = std::to_string(getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    return Result::Acquired;
}

pid_t CSingleInstance::RunningPid() const {
    int fd = ::open(m_lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    char text[32] = {};
    ssize_t got = ::read(fd, text, sizeof(text) - 1);
    ::close(fd);
    if (got <= 0) {
        return 0;
    }
    return static_cast<pid_t>(std::atol(text));
}

bool CSingleInstance::Listen(std::function<void()> onShowRequest) {
    if (!m_owner || m_listenFd >= 0) {
        return false;
    }
    sockaddr_un address{};
    if (!FillAddress(m_socketPath, address)) {
        return false;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    // A socket left by a crashed instance: we hold the lock, so it is nobody's.
    ::unlink(m_socketPath.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd, 4) != 0) {
        ::close(fd);
        return false;
    }
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        ::close(fd);
        ::unlink(m_socketPath.c_str());
        return false;
    }
    m_listenFd = fd;
    m_onShow = std::move(onShowRequest);
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void CSingleInstance::Serve() {
    pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    for (;;) {
        int ready = poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        std::string request = ReadLine(client, 1000);
        if (request == kShowRequest) {
            if (m_onShow) {
                m_onShow();
            }
            WriteAll(client, kShowAnswer);
        }
        ::close(client);
    }
}

bool CSingleInstance::AskToShow() const {
    sockaddr_un address{};
    if (!FillAddress(m_socketPath, address)) {
        return false;
    }
    // The first instance may hold the lock a moment before its socket is ready.
    for (int attempt = 0; attempt < 20; ++attempt) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            bool answered = WriteAll(fd, kShowRequest) && ReadLine(fd, 2000) == kShowAnswer;
            ::close(fd);
            return answered;
        }
        ::close(fd);
        ::usleep(50 * 1000);
    }
    return false;
}
