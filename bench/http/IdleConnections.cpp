// Opens COUNT connections to 127.0.0.1:PORT that never send anything, reports the resident
// memory of the server process PID while they are held, then how long the server takes to close
// all of them. Usage: bench_http_idle PORT PID COUNT
// Exit status 1 when the memory exceeds 64 MiB or the last close takes more than 10 s.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

long ResidentKiB(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PORT PID COUNT\n", argv[0]);
        return 2;
    }
    int port = std::atoi(argv[1]);
    int pid = std::atoi(argv[2]);
    int count = std::atoi(argv[3]);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    long before = ResidentKiB(pid);
    std::vector<pollfd> sockets;
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    for (int i = 0; i < count; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
            std::fprintf(stderr, "connection %d failed\n", i);
            return 1;
        }
        sockets.push_back({fd, POLLIN, 0});
    }
    auto silentSince = std::chrono::steady_clock::now();
    // Let the server accept and post a receive on every one of them.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    long held = ResidentKiB(pid);

    size_t open = sockets.size();
    double lastClose = 0;
    while (open > 0) {
        double waited =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - silentSince).count();
        if (waited > 15) {
            break;
        }
        if (::poll(sockets.data(), sockets.size(), 500) <= 0) {
            continue;
        }
        for (pollfd& p : sockets) {
            if (p.fd >= 0 && p.revents != 0) {
                char byte;
                if (::recv(p.fd, &byte, 1, 0) <= 0) {
                    ::close(p.fd);
                    p.fd = -1;
                    --open;
                    lastClose = std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                              silentSince)
                                    .count();
                }
            }
        }
    }
    double reapedBy = open == 0 ? lastClose : -1;
    std::printf("idle connections: %d held, server RSS %.1f MiB (%.1f MiB before), "
                "all closed by the server after %.1f s%s\n",
                count, held / 1024.0, before / 1024.0, reapedBy,
                open == 0 ? "" : " (some never closed)");
    bool ok = held >= 0 && held < 64 * 1024 && open == 0 && reapedBy <= 10.0;
    std::printf("idle check: %s (limits: RSS < 64 MiB, closed within 10 s)\n",
                ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
