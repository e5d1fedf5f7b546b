#include "tests/support/TestProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadFileText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Socket {
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

sockaddr_in Address(const std::string& ip, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    return address;
}

HttpReply ParseReply(const std::string& data) {
    HttpReply reply;
    size_t headEnd = data.find("\r\n\r\n");
    if (data.empty() || headEnd == std::string::npos) {
        return reply;
    }
    std::istringstream head(data.substr(0, headEnd));
    std::string line;
    std::getline(head, line);
    std::istringstream statusLine(line);
    std::string version;
    statusLine >> version >> reply.status;
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        size_t start = line.find_first_not_of(' ', colon + 1);
        reply.headers[name] = start == std::string::npos ? "" : line.substr(start);
    }
    reply.body = data.substr(headEnd + 4);
    auto length = reply.headers.find("content-length");
    if (length != reply.headers.end()) {
        size_t size = static_cast<size_t>(std::strtoull(length->second.c_str(), nullptr, 10));
        if (reply.body.size() > size) {
            reply.body.resize(size);
        }
    }
    reply.received = true;
    return reply;
}

} // namespace

int FreeTcpPort() {
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = Address("0.0.0.0", 0);
    if (s.Get() < 0 || ::bind(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address))) {
        return 0;
    }
    socklen_t length = sizeof(address);
    ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

HttpReply HttpRequest(const std::string& sourceIp, int port, const std::string& method,
                      const std::string& target, const std::string& body, int timeoutMs) {
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (s.Get() < 0) {
        return {};
    }
    sockaddr_in source = Address(sourceIp, 0);
    sockaddr_in server = Address("127.0.0.1", port);
    if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&source), sizeof(source)) != 0 ||
        ::connect(s.Get(), reinterpret_cast<sockaddr*>(&server), sizeof(server)) != 0) {
        return {};
    }
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                          "Content-Length: " + std::to_string(body.size()) +
                          "\r\nConnection: close\r\n\r\n" + body;
    for (size_t sent = 0; sent < request.size();) {
        ssize_t put = ::send(s.Get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (put <= 0) {
            return {};
        }
        sent += static_cast<size_t>(put);
    }
    std::string data;
    char buffer[65536];
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        pollfd p{s.Get(), POLLIN, 0};
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (::poll(&p, 1, std::max(left, 1)) <= 0) {
            break;
        }
        ssize_t got = ::recv(s.Get(), buffer, sizeof(buffer), 0);
        if (got <= 0) {
            break;
        }
        data.append(buffer, static_cast<size_t>(got));
    }
    return ParseReply(data);
}

VellumoProcess::VellumoProcess(const fs::path& program, const fs::path& base, int port)
    : m_program(program), m_base(base), m_home(base / "home"), m_config(base / "config"),
      m_port(port != 0 ? port : FreeTcpPort()) {
    std::error_code ec;
    for (const char* folder : {"home", "config", "data", "run", "tmp", "logs"}) {
        fs::create_directories(base / folder, ec);
    }
    fs::permissions(base / "run", fs::perms::owner_all, ec);
}

VellumoProcess::~VellumoProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

std::vector<std::string> VellumoProcess::Environment() const {
    std::vector<std::string> env = {
        "HOME=" + m_home.string(),
        "XDG_CONFIG_HOME=" + m_config.string(),
        "XDG_DATA_HOME=" + (m_base / "data").string(),
        "XDG_RUNTIME_DIR=" + (m_base / "run").string(),
        "TMPDIR=" + (m_base / "tmp").string(),
        "VELLUMO_PORT=" + std::to_string(m_port),
        "VELLUMO_UPDATE_SERVER=" + m_updateServer,
        "TZ=UTC",
        // No accessibility bus: GTK would start one per program that outlives it and holds an
        // inotify instance, and a long run would exhaust them.
        "NO_AT_BRIDGE=1",
    };
    // The sanitizers' settings and the search path carry over; a display never does.
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "LANG"}) {
        if (const char* value = std::getenv(name)) {
            env.push_back(std::string(name) + "=" + value);
        }
    }
    // Without a session bus of the test's own, none at all: GIO would otherwise start one for
    // the X display (dbus-launch) that outlives the test.
    bool ownBus = std::any_of(m_extraEnv.begin(), m_extraEnv.end(), [](const std::string& e) {
        return e.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) == 0;
    });
    if (!ownBus) {
        env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + (m_base / "no-session-bus").string());
    }
    env.insert(env.end(), m_extraEnv.begin(), m_extraEnv.end());
    return env;
}

bool VellumoProcess::Spawn(const std::vector<std::string>& args) {
    ++m_run;
    m_stdout = m_base / "logs" / ("stdout-" + std::to_string(m_run) + ".txt");
    m_stderr = m_base / "logs" / ("stderr-" + std::to_string(m_run) + ".txt");
    std::vector<std::string> argv = {m_program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp;
    for (std::string& a : argv) {
        argp.push_back(a.data());
    }
    argp.push_back(nullptr);
    std::vector<std::string> env = Environment();
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, m_stdout.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, m_stderr.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The child starts with no blocked signals whatever the test's threads did.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int error =
        posix_spawn(&pid, m_program.c_str(), &actions, &attributes, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        return false;
    }
    m_pid = pid;
    m_status = -1;
    return true;
}

bool VellumoProcess::Start(const std::vector<std::string>& args) {
    if (m_pid > 0) {
        return false;
    }
    return Spawn(args);
}

int VellumoProcess::RunToEnd(const std::vector<std::string>& args, int timeoutMs) {
    if (m_pid > 0) {
        // Another process of the sandbox is running; run this one beside it.
        VellumoProcess other(m_program, m_base, m_port);
        other.m_run = m_run + 100;
        int status = other.RunToEnd(args, timeoutMs);
        m_run = other.m_run;
        m_stdout = other.m_stdout;
        m_stderr = other.m_stderr;
        return status;
    }
    if (!Spawn(args)) {
        return -1;
    }
    int status = WaitExit(timeoutMs);
    if (status < 0) {
        ::kill(m_pid, SIGKILL);
        WaitExit(5000);
    }
    return status;
}

int VellumoProcess::WaitExit(int timeoutMs) {
    if (m_pid <= 0) {
        return m_status;
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return m_status;
        }
        if (Clock::now() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int VellumoProcess::Stop(int signal, int timeoutMs) {
    if (m_pid <= 0) {
        return m_status;
    }
    ::kill(m_pid, signal);
    return WaitExit(timeoutMs);
}

bool VellumoProcess::IsRunning() {
    if (m_pid <= 0) {
        return false;
    }
    return WaitExit(0) < 0;
}

bool VellumoProcess::WaitForOutput(const std::string& text, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (Output().find(text) != std::string::npos) {
            return true;
        }
        if (Clock::now() >= deadline || (m_pid <= 0 && m_status >= 0) ||
            (m_pid > 0 && !IsRunning())) {
            return Output().find(text) != std::string::npos;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string VellumoProcess::Output() const {
    return m_stdout.empty() ? std::string() : ReadFileText(m_stdout);
}

std::string VellumoProcess::ErrorOutput() const {
    return m_stderr.empty() ? std::string() : ReadFileText(m_stderr);
}

std::string VellumoProcess::OutputValue(const std::string& label) const {
    std::istringstream lines(Output());
    std::string line;
    std::string prefix = label + ": ";
    while (std::getline(lines, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return line.substr(prefix.size());
        }
    }
    return {};
}
