#include "net/SocketOwner.h"

#include "platform/FileSystem.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// One netlink socket per thread, opened on first use and kept: a lookup is then one request
// and one answer, cheap enough for every loopback connection.
class DiagSocket {
public:
    ~DiagSocket() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    int Get() {
        if (m_fd < 0) {
            m_fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
        }
        return m_fd;
    }
    void Reset() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

thread_local DiagSocket t_diag;

struct DiagRequest {
    nlmsghdr header;
    inet_diag_req_v2 body;
};

// 1: found (uid set), 0: the kernel has no such socket, -1: the interface did not answer.
int LookUpByDiag(uint32_t clientAddress, uint16_t clientPort, uint32_t serverAddress,
                 uint16_t serverPort, int64_t& uid) {
    const int fd = t_diag.Get();
    if (fd < 0) {
        return -1;
    }
    DiagRequest request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST; // one exact socket, not a dump
    static thread_local uint32_t sequence = 0;
    request.header.nlmsg_seq = ++sequence;
    request.body.sdiag_family = AF_INET;
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = ~0u;
    request.body.id.idiag_sport = htons(clientPort);
    request.body.id.idiag_dport = htons(serverPort);
    request.body.id.idiag_src[0] = htonl(clientAddress);
    request.body.id.idiag_dst[0] = htonl(serverAddress);
    request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) != static_cast<ssize_t>(sizeof request)) {
        t_diag.Reset();
        return -1;
    }
    alignas(nlmsghdr) char buffer[8192];
    for (;;) {
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0) {
            t_diag.Reset();
            return -1;
        }
        size_t offset = 0;
        for (;;) {
            const size_t remaining = static_cast<size_t>(got) - offset;
            auto* message = reinterpret_cast<nlmsghdr*>(buffer + offset);
            if (remaining < sizeof(nlmsghdr) || message->nlmsg_len < sizeof(nlmsghdr) ||
                message->nlmsg_len > remaining) {
                break;
            }
            offset += NLMSG_ALIGN(message->nlmsg_len);
            if (message->nlmsg_seq != sequence) {
                continue; // an answer to an earlier request that was given up
            }
            if (message->nlmsg_type == NLMSG_ERROR) {
                const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(message));
                if (message->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr)) &&
                    error->error == -ENOENT) {
                    return 0;
                }
                return -1;
            }
            if (message->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
                message->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
                uid = found->idiag_uid;
                return 1;
            }
        }
    }
}

// "0100007F:1F90" as /proc/net/tcp prints an address and port: the address's network-order
// bytes read as a number of this machine, the port as a number.
std::string TableEnd(uint32_t address, uint16_t port) {
    const uint32_t raw = htonl(address);
    char text[32];
    std::snprintf(text, sizeof text, "%08X:%04X", raw, static_cast<unsigned>(port));
    return text;
}

} // namespace

int64_t TcpSocketOwnerFromTable(const char* table, uint32_t clientAddress, uint16_t clientPort,
                                uint32_t serverAddress, uint16_t serverPort) {
    const std::string local = TableEnd(clientAddress, clientPort);
    const std::string remote = TableEnd(serverAddress, serverPort);
    std::string_view text(table);
    size_t lineStart = text.find('\n'); // the first line names the columns
    while (lineStart != std::string_view::npos && lineStart + 1 < text.size()) {
        ++lineStart;
        size_t lineEnd = text.find('\n', lineStart);
        std::string line(text.substr(lineStart, lineEnd == std::string_view::npos
                                                    ? std::string_view::npos
                                                    : lineEnd - lineStart));
        lineStart = lineEnd;
        char slot[16];
        char ownEnd[64];
        char otherEnd[64];
        unsigned state = 0;
        char queues[64];
        char timer[64];
        unsigned retransmits = 0;
        long long uid = -1;
        if (std::sscanf(line.c_str(), " %15s %63s %63s %x %63s %63s %x %lld", slot, ownEnd,
                        otherEnd, &state, queues, timer, &retransmits, &uid) == 8 &&
            local == ownEnd && remote == otherEnd) {
            return uid;
        }
    }
    return -1;
}

int64_t TcpSocketOwner(uint32_t clientAddress, uint16_t clientPort, uint32_t serverAddress,
                       uint16_t serverPort) {
    int64_t uid = -1;
    const int found = LookUpByDiag(clientAddress, clientPort, serverAddress, serverPort, uid);
    if (found >= 0) {
        return found == 1 ? uid : -1;
    }
    std::string table;
    if (!ReadWholeFile("/proc/net/tcp", table)) {
        return -1;
    }
    return TcpSocketOwnerFromTable(table.c_str(), clientAddress, clientPort, serverAddress,
                                   serverPort);
}
