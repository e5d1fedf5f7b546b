#include "tests/support/TestConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

TestConnection::TestConnection(int port, const char* fromAddress) {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_fd < 0) {
        return;
    }
    if (fromAddress != nullptr) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, fromAddress, &local.sin_addr);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            Close();
            return;
        }
    }
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        Close();
        return;
    }
    int one = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

TestConnection::~TestConnection() {
    Close();
}

void TestConnection::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool TestConnection::Send(std::string_view bytes) {
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

std::string TestConnection::ReadAll(std::chrono::milliseconds timeout, bool* closed) {
    std::string out;
    if (closed != nullptr) {
        *closed = false;
    }
    auto end = std::chrono::steady_clock::now() + timeout;
    char buffer[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return out;
        }
        pollfd p{m_fd, POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return out;
        }
        ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (closed != nullptr) {
                *closed = true;
            }
            return out;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
}

bool TestConnection::WaitClosed(std::chrono::milliseconds timeout) {
    bool closed = false;
    ReadAll(timeout, &closed);
    return closed;
}

std::string Exchange(int port, std::string_view request, const char* fromAddress,
                     std::chrono::milliseconds timeout) {
    TestConnection connection(port, fromAddress);
    if (!connection.Connected() || !connection.Send(request)) {
        return {};
    }
    return connection.ReadAll(timeout);
}
