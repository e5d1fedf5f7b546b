// bench_httpclient_download file|memory PORT PATH OUT [BLOCK_SIZE]
// Fetches http://127.0.0.1:PORT/PATH with CHttpAgent, into the file OUT (DownloadToFile) or into
// memory (ReceiveBody, chunked or not), and prints "seconds S bytes N peak_rss_kib K".

#include "httpclient/CHttpAgent.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s file|memory PORT PATH OUT [BLOCK_SIZE]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const int port = std::atoi(argv[2]);
    const int block = argc > 5 ? std::atoi(argv[5]) : CHttpAgent::kDefaultBlockSize;

    auto start = std::chrono::steady_clock::now();
    CHttpAgent agent;
    if (!agent.SetBlockSize(block) || !agent.Open("127.0.0.1", port, "GET", argv[3], "HTTP/1.1") ||
        !agent.SetHeader("Host", "127.0.0.1") || !agent.SetHeader("Accept", "*/*") ||
        !agent.SendHead() || !agent.ReceiveHead()) {
        std::fprintf(stderr, "request failed\n");
        return 1;
    }
    int64_t bytes = 0;
    if (mode == "file") {
        bytes = agent.GetContentLength();
        if (!agent.DownloadToFile(argv[4], nullptr, nullptr)) {
            std::fprintf(stderr, "download failed\n");
            return 1;
        }
    } else {
        agent.SetBodyLimit(size_t(1) << 30);
        std::string body;
        if (!agent.ReceiveBody(body)) {
            std::fprintf(stderr, "body failed\n");
            return 1;
        }
        bytes = static_cast<int64_t>(body.size());
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds %.4f bytes %lld peak_rss_kib %ld\n", seconds,
                static_cast<long long>(bytes), usage.ru_maxrss);
    return 0;
}
