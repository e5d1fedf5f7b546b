#include "PhoneClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

constexpr int kTimeoutMs = 30000;

class Socket {
public:
    Socket(int port, const std::string& from) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_fd < 0) {
            return;
        }
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, from.c_str(), &local.sin_addr);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::connect(m_fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        int one = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~Socket() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool Ok() const { return m_fd >= 0; }

    bool Send(std::string_view bytes) {
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

    // Everything until the server closes (or the time-out passes).
    std::string ReadAll() {
        std::string out;
        char buffer[65536];
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            int ready = ::poll(&p, 1, kTimeoutMs);
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
                return out;
            }
            out.append(buffer, static_cast<size_t>(n));
        }
    }

private:
    int m_fd = -1;
};

} // namespace

int PhoneAnswer::Status() const {
    int status = 0;
    std::sscanf(statusLine.c_str(), "HTTP/1.1 %d", &status);
    return status;
}

std::string PhoneAnswer::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

std::vector<std::string> PhoneAnswer::HeaderNames() const {
    std::vector<std::string> names;
    for (const auto& header : headers) {
        names.push_back(header.first);
    }
    return names;
}

PhoneClient::PhoneClient(int port, std::string fromAddress)
    : m_port(port), m_from(std::move(fromAddress)) {}

PhoneAnswer PhoneClient::Parse(std::string raw) {
    PhoneAnswer answer;
    answer.raw = std::move(raw);
    answer.closedSilently = answer.raw.empty();
    size_t headEnd = answer.raw.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
        return answer;
    }
    std::string_view head(answer.raw.data(), headEnd + 2);
    size_t lineEnd = head.find("\r\n");
    answer.statusLine = std::string(head.substr(0, lineEnd));
    for (size_t at = lineEnd + 2; at < head.size();) {
        size_t end = head.find("\r\n", at);
        std::string_view line = head.substr(at, end - at);
        size_t colon = line.find(": ");
        if (colon != std::string_view::npos) {
            answer.headers.emplace_back(std::string(line.substr(0, colon)),
                                        std::string(line.substr(colon + 2)));
        }
        at = end + 2;
    }
    answer.body = answer.raw.substr(headEnd + 4);
    return answer;
}

PhoneAnswer PhoneClient::Raw(std::string_view request) const {
    Socket socket(m_port, m_from);
    if (!socket.Ok() || !socket.Send(request)) {
        return {};
    }
    return Parse(socket.ReadAll());
}

PhoneAnswer PhoneClient::Get(const std::string& target) const {
    return Raw("GET " + target + " HTTP/1.1\r\nHost: pc\r\n\r\n");
}

PhoneAnswer PhoneClient::Post(const std::string& target, std::string_view body) const {
    std::string request = "POST " + target + " HTTP/1.1\r\nHost: pc\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n";
    request.append(body);
    return Raw(request);
}

std::string PercentEncode(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}
