#include "tests/support/ScriptedServer.h"

#include "tests/support/WaitFor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kReadTimeoutMs = 20000;

// The Content-Length of a request head, 0 when absent.
size_t RequestBodyLength(const std::string& head) {
    std::string lower = head;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) {
        return 0;
    }
    return static_cast<size_t>(std::strtoull(lower.c_str() + at + 17, nullptr, 10));
}

} // namespace

bool ScriptedConnection::WaitReadable(int timeoutMs) {
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    for (;;) {
        int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && fds[1].revents == 0 && fds[0].revents != 0;
    }
}

std::string ScriptedConnection::ReadRequest() {
    std::string request;
    size_t wanted = std::string::npos; // head + body, once the head is complete
    char buffer[65536];
    while (request.size() < wanted) {
        if (!WaitReadable(kReadTimeoutMs)) {
            break;
        }
        ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
        if (n <= 0) {
            break;
        }
        request.append(buffer, static_cast<size_t>(n));
        size_t end = request.find("\r\n\r\n");
        if (wanted == std::string::npos && end != std::string::npos) {
            wanted = end + 4 + RequestBodyLength(request.substr(0, end + 2));
        }
    }
    m_server.RecordRequest(request);
    return request;
}

bool ScriptedConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void ScriptedConnection::Pause(std::chrono::milliseconds time) {
    pollfd stop = {m_stopFd, POLLIN, 0};
    ::poll(&stop, 1, static_cast<int>(time.count()));
}

bool ScriptedConnection::SendSplit(std::string_view bytes, size_t offset) {
    if (offset > bytes.size()) {
        offset = bytes.size();
    }
    if (!Send(bytes.substr(0, offset))) {
        return false;
    }
    Pause(std::chrono::milliseconds(2));
    return Send(bytes.substr(offset));
}

bool ScriptedConnection::SendByteByByte(std::string_view bytes) {
    for (char c : bytes) {
        if (!Send(std::string_view(&c, 1))) {
            return false;
        }
    }
    return true;
}

bool ScriptedConnection::WaitClientClose(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(static_cast<int>(left.count()))) {
            return false;
        }
        ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
        if (n <= 0) {
            return true;
        }
    }
}

ScriptedServer::ScriptedServer(Script script) : m_script(std::move(script)) {
    m_stopFd = ::eventfd(0, EFD_CLOEXEC);
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(m_listen, 16) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
    uint64_t one = 1;
    ssize_t n = ::write(m_stopFd, &one, sizeof(one));
    (void)n;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_listen >= 0) {
        ::close(m_listen);
    }
    ::close(m_stopFd);
}

std::string ScriptedServer::Address() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

void ScriptedServer::SetScript(Script script) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_script = std::move(script);
}

void ScriptedServer::Run() {
    for (;;) {
        pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        Script script;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            ++m_connections;
            script = m_script;
        }
        ScriptedConnection connection(*this, fd, m_stopFd);
        if (script) {
            script(connection);
        }
        ::close(fd);
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_finished;
    }
}

void ScriptedServer::RecordRequest(std::string request) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_requests.push_back(std::move(request));
}

std::vector<std::string> ScriptedServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requests;
}

int ScriptedServer::Connections() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_connections;
}

bool ScriptedServer::WaitConnections(int count, std::chrono::milliseconds timeout) {
    return WaitFor([&] { return Connections() >= count; }, timeout);
}

bool ScriptedServer::WaitFinished(int count, std::chrono::milliseconds timeout) {
    return WaitFor(
        [&] {
            std::lock_guard<std::mutex> lock(m_lock);
            return m_finished >= count;
        },
        timeout);
}

ScriptedServer::Script ScriptedServer::Reply(std::string answer) {
    return [answer = std::move(answer)](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send(answer);
    };
}

std::string ScriptedServer::Answer(std::string_view body, std::string_view status,
                                   std::string_view extraHeaders) {
    std::string answer = "HTTP/1.1 " + std::string(status) + "\r\n";
    answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    answer += extraHeaders;
    answer += "\r\n";
    answer += body;
    return answer;
}
