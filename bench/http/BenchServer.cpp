// The HTTP server with one trivial route, "/bench", answering a 200-byte body. Prints
// "port N" once listening and serves until SIGINT or SIGTERM.
// With --free-port it only prints a currently free loopback port and exits.

#include "net/CHWebServer.h"
#include "platform/Dialogs.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--free-port") == 0) {
        std::printf("%d\n", FreePort());
        return 0;
    }
    SetHeadlessMode(true);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    CHWebServer server(0);
    const std::string body(200, 'v');
    server.AddRoute("/bench",
                    [&body](const HttpRequest&, HttpResponse& response) { response.body = body; });
    std::thread runner([&server] { server.Run(); });
    if (!server.WaitListening(10000)) {
        std::fprintf(stderr, "bench server: not listening\n");
        server.Stop();
        runner.join();
        return 1;
    }
    std::printf("port %d\n", server.BoundPort());
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    server.Stop();
    runner.join();
    return 0;
}
