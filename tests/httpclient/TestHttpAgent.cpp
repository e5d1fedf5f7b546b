// CHttpAgent against a scripted loopback peer: the exact request bytes, the response rules, and
// how the client survives peers that split, stall, close early or send too much.

#include "httpclient/CHttpAgent.h"

#include "tests/support/ScriptedServer.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Opens, sends the head and receives the response head from the server.
bool Ask(CHttpAgent& agent, const ScriptedServer& server, const std::string& path = "/") {
    return agent.Open("127.0.0.1", server.Port(), "GET", path, "HTTP/1.1") && agent.SendHead() &&
           agent.ReceiveHead();
}

struct ProgressCall {
    int percent;
    int64_t received;
    int64_t total;
    int blockLength;
};

CHttpAgent::ProgressCallback Recorder(std::vector<ProgressCall>& calls, int abortAfter = -1) {
    return [&calls, abortAfter](int percent, int, const char*, int length, int64_t received,
                                int64_t total, void*) {
        calls.push_back({percent, received, total, length});
        return abortAfter >= 0 && static_cast<int>(calls.size()) > abortAfter ? 0 : 1;
    };
}

} // namespace

TEST(HttpAgentRequest, HeadBytesAreExactWithHeadersInByteOrderOfTheirNames) {
    ScriptedServer server(ScriptedServer::Reply(ScriptedServer::Answer("{}")));
    CHttpAgent agent;
    ASSERT_TRUE(
        agent.Open("127.0.0.1", server.Port(), "POST", "/check_update?version=1.2", "HTTP/1.1"));
    std::string body = "{\"1000\" : 2}\n";
    // Set out of order, one twice, one lower-case name (sorts after every capital).
    ASSERT_TRUE(agent.SetHeader("User-Agent", "%s", "Vellumo"));
    ASSERT_TRUE(agent.SetHeader("x-trace", "%d", 7));
    ASSERT_TRUE(agent.SetHeader("Host", "%s", "first"));
    ASSERT_TRUE(agent.SetHeader("Content-Length", "%ld", static_cast<long>(body.size())));
    ASSERT_TRUE(agent.SetHeader("Connection", "keep-alive"));
    ASSERT_TRUE(agent.SetHeader("Accept", "*/*"));
    ASSERT_TRUE(agent.SetHeader("Host", "%s", "updates.test"));
    ASSERT_TRUE(agent.SendHead());
    ASSERT_TRUE(agent.SendBody(body));
    ASSERT_TRUE(agent.ReceiveHead());
    ASSERT_TRUE(server.WaitFinished(1));
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0], "POST /check_update?version=1.2 HTTP/1.1\r\n"
                                    "Accept: */*\r\n"
                                    "Connection: keep-alive\r\n"
                                    "Content-Length: 13\r\n"
                                    "Host: updates.test\r\n"
                                    "User-Agent: Vellumo\r\n"
                                    "x-trace: 7\r\n"
                                    "\r\n" +
                                        body);

    // SendRaw puts the bytes on the wire untouched, and the answer reads as usual.
    const std::string raw("RAW /\0 HTTP/9\r\n\r\n", 18);
    ASSERT_TRUE(agent.SendRaw("127.0.0.1", server.Port(), raw));
    ASSERT_TRUE(agent.ReceiveHead());
    EXPECT_EQ(agent.GetStatusCode(), 200);
    ASSERT_TRUE(server.WaitFinished(2));
    EXPECT_EQ(server.Requests()[1], raw);
}

TEST(HttpAgentRequest, InjectedLineBreaksAndEmptyPartsAreRefusedBeforeConnecting) {
    ScriptedServer server(ScriptedServer::Reply(ScriptedServer::Answer("x")));
    CHttpAgent agent;
    const int port = server.Port();
    EXPECT_FALSE(agent.Open("127.0.0.1", port, "GET", "/a\r\nX-Evil: 1", "HTTP/1.1"));
    EXPECT_FALSE(agent.Open("127.0.0.1", port, "GET", "/a\nb", "HTTP/1.1"));
    EXPECT_FALSE(agent.Open("127.0.0.1", port, "GET", std::string("/a\0b", 4), "HTTP/1.1"));
    EXPECT_FALSE(agent.Open("127.0.0.1", port, "GET\r\n", "/", "HTTP/1.1"));
    EXPECT_FALSE(agent.Open("127.0.0.1", port, "GET", "/", "HTTP/1.1\r\n"));
    EXPECT_FALSE(agent.Open("127.0.0.1", port, "GET", "/a b", "HTTP/1.1"));
    EXPECT_FALSE(agent.Open("127.0.0.1\r\n", port, "GET", "/", "HTTP/1.1"));
    EXPECT_FALSE(agent.Open("", port, "GET", "/", "HTTP/1.1"));
    EXPECT_FALSE(agent.Open("127.0.0.1", port, "", "/", "HTTP/1.1"));
    EXPECT_FALSE(agent.Open("127.0.0.1", port, "GET", "", "HTTP/1.1"));
    EXPECT_FALSE(agent.Open("127.0.0.1", port, "GET", "/", ""));
    EXPECT_FALSE(agent.Open("127.0.0.1", 0, "GET", "/", "HTTP/1.1"));
    EXPECT_FALSE(agent.SendHead()); // nothing opened

    ASSERT_TRUE(agent.Open("127.0.0.1", port, "GET", "/", "HTTP/1.1"));
    EXPECT_FALSE(agent.SetHeader("Host", "%s", "a\r\nX-Evil: 1"));
    EXPECT_FALSE(agent.SetHeader("Host", "a%cb", 0));
    EXPECT_FALSE(agent.SetHeader("Bad Name", "v"));
    EXPECT_FALSE(agent.SetHeader("Bad:Name", "v"));
    EXPECT_FALSE(agent.SetHeader("Bad\nName", "v"));
    EXPECT_FALSE(agent.SetHeader("", "v"));
    EXPECT_FALSE(agent.SetHeader("Name", nullptr));
    EXPECT_FALSE(agent.SetHeaderValue("Name", "a\rb"));
    EXPECT_EQ(server.Connections(), 0);
    // The refused values did not replace anything.
    ASSERT_TRUE(agent.SetHeader("Host", "ok"));
    ASSERT_TRUE(agent.SendHead());
    ASSERT_TRUE(agent.ReceiveHead());
    ASSERT_TRUE(server.WaitFinished(1));
    EXPECT_EQ(server.Requests()[0], "GET / HTTP/1.1\r\nHost: ok\r\n\r\n");
}

TEST(HttpAgentRequest, HostsAreNamesOrDottedAddresses) {
    ScriptedServer server(ScriptedServer::Reply(ScriptedServer::Answer("named")));
    CHttpAgent agent;
    ASSERT_TRUE(agent.Open("localhost", server.Port(), "GET", "/", "HTTP/1.1"));
    ASSERT_TRUE(agent.SendHead());
    ASSERT_TRUE(agent.ReceiveHead());
    std::string body;
    EXPECT_TRUE(agent.ReceiveBody(body));
    EXPECT_EQ(body, "named");
    // A host starting with a digit is never looked up: "127.1" is no dotted address.
    ASSERT_TRUE(agent.Open("127.1", server.Port(), "GET", "/", "HTTP/1.1"));
    EXPECT_FALSE(agent.SendHead());
    // Nobody listens: refused at once.
    int deadPort = 0;
    {
        ScriptedServer gone(nullptr);
        deadPort = gone.Port();
    }
    ASSERT_TRUE(agent.Open("127.0.0.1", deadPort, "GET", "/", "HTTP/1.1"));
    EXPECT_FALSE(agent.SendHead());
    EXPECT_FALSE(agent.ReceiveHead());
}

TEST(HttpAgentResponse, StatusLineAndHeaderRules) {
    struct Case {
        std::string statusLine;
        int status;
    };
    const std::vector<Case> cases = {
        {"HTTP/1.1 200 OK", 200},    {"HTTP/1.1 200", 404},
        {"HTTP/1.0 302 Found", 302}, {"HTTP/1.1  200 OK", 0},
        {"HTTP/1.1 20x0 OK", 20},    {"", 404},
        {"HTTP/1.1 abc def", 0},     {"HTTP/1.1 99999999999 X", 999999999},
    };
    for (const Case& c : cases) {
        ScriptedServer server(ScriptedServer::Reply(c.statusLine + "\r\nA: b\r\n\r\n"));
        CHttpAgent agent;
        ASSERT_TRUE(Ask(agent, server)) << c.statusLine;
        EXPECT_EQ(agent.GetStatusCode(), c.status) << c.statusLine;
        EXPECT_EQ(agent.GetStatusLine(), c.statusLine);
    }

    const std::string head = "HTTP/1.1 200 OK\r\n"
                             "content-length: 3\r\n"
                             "X-Dup: first\r\n"
                             "no colon here\r\n"
                             " : empty name\r\n"
                             "  X-Spaced  :   padded value  \r\n"
                             "X-DUP: second\r\n"
                             "\r\n";
    ScriptedServer server(ScriptedServer::Reply(head + "abc"));
    CHttpAgent agent;
    ASSERT_TRUE(Ask(agent, server));
    EXPECT_EQ(agent.GetHeader("Content-Length"), "3");
    EXPECT_EQ(agent.GetContentLength(), 3);
    EXPECT_EQ(agent.GetHeader("x-dup"), "second");
    EXPECT_EQ(agent.GetHeader("X-Spaced"), "padded value");
    EXPECT_EQ(agent.GetHeader("no colon here"), "");
    EXPECT_EQ(agent.GetHeader("absent"), "");
    std::string raw;
    ASSERT_TRUE(agent.GetRawHead(raw));
    EXPECT_EQ(raw, head);
    EXPECT_FALSE(agent.ReceiveHead()) << "a second head";
    std::string body;
    EXPECT_TRUE(agent.ReceiveBody(body));
    EXPECT_EQ(body, "abc");
}

TEST(HttpAgentResponse, ContentLengthBodies) {
    struct Case {
        std::string answer;
        bool ok;
        std::string body;
    };
    const std::vector<Case> cases = {
        // Head and the first body bytes in one packet; more bytes than announced are dropped.
        {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbodyTRAILING", true, "body"},
        // Zero length and no chunked coding: nothing to read.
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, ""},
        // A length that is not plain digits counts as absent (the close does not delimit).
        {"HTTP/1.1 200 OK\r\nContent-Length: 4abc\r\n\r\nbody", false, ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: -4\r\n\r\nbody", false, ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nbody", false, ""},
        {"HTTP/1.1 200 OK\r\n\r\nbody until close", false, ""},
        // Shorter than announced.
        {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort", false, ""},
    };
    for (const Case& c : cases) {
        ScriptedServer server(ScriptedServer::Reply(c.answer));
        CHttpAgent agent;
        ASSERT_TRUE(Ask(agent, server)) << c.answer;
        std::string body = "stale";
        EXPECT_EQ(agent.ReceiveBody(body), c.ok) << c.answer;
        if (c.ok) {
            EXPECT_EQ(body, c.body);
        }
    }
}

TEST(HttpAgentResponse, ChunkedBodiesAreParsedStrictly) {
    struct Case {
        std::string chunks;
        bool ok;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"4\r\nWiki\r\n0\r\n\r\n", true, "Wiki"},
        {"4;name=value\r\nWiki\r\n5 \r\npedia\r\n0\r\nTrailer: x\r\n\r\n", true, "Wikipedia"},
        {"A\r\n0123456789\r\n0\r\n\r\n", true, "0123456789"},
        {"0\r\n\r\n", false, ""},                              // empty body
        {"4\r\nWikiXX0\r\n\r\n", false, ""},                   // no CRLF after the data
        {"4\r\nWiki\n0\r\n\r\n", false, ""},                   // bare LF after the data
        {"4x\r\nWiki\r\n0\r\n\r\n", false, ""},                // junk after the size
        {"\r\nWiki\r\n0\r\n\r\n", false, ""},                  // no size
        {"-4\r\nWiki\r\n0\r\n\r\n", false, ""},                // signed size
        {"4\nWiki\r\n0\r\n\r\n", false, ""},                   // bare LF ending the size line
        {"10000000000000004\r\nWiki\r\n0\r\n\r\n", false, ""}, // overflows 64 bits to 4
        {"4\r\nWiki\r\n", false, ""},                          // closed before the last chunk
        {"100000\r\n", false, ""},                             // 1 MiB chunk: over the body limit
        {std::string(5000, '0') + "4\r\nWiki\r\n0\r\n\r\n", false, ""}, // endless size line
    };
    for (const Case& c : cases) {
        std::string answer = "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n" + c.chunks;
        ScriptedServer server(ScriptedServer::Reply(answer));
        CHttpAgent agent;
        agent.SetBodyLimit(1024 * 1024 - 1);
        ASSERT_TRUE(Ask(agent, server));
        std::string body;
        EXPECT_EQ(agent.ReceiveBody(body), c.ok) << c.chunks.substr(0, 60);
        if (c.ok) {
            EXPECT_EQ(body, c.body);
        }
    }
}

TEST(HttpAgentResponse, AnswersSplitAtEveryOffsetReadTheSame) {
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nX-A: 1\r\n\r\n"
                                "3\r\nabc\r\n10\r\n0123456789abcdef\r\n0\r\n\r\n";
    const std::string counted =
        ScriptedServer::Answer("abc0123456789abcdef", "200 OK", "X-A: 1\r\n");
    for (const std::string* answer : {&chunked, &counted}) {
        for (size_t offset = 1; offset < answer->size(); ++offset) {
            ScriptedServer server([&](ScriptedConnection& connection) {
                connection.ReadRequest();
                connection.SendSplit(*answer, offset);
            });
            CHttpAgent agent;
            ASSERT_TRUE(Ask(agent, server)) << offset;
            EXPECT_EQ(agent.GetHeader("x-a"), "1") << offset;
            std::string body;
            EXPECT_TRUE(agent.ReceiveBody(body)) << offset;
            EXPECT_EQ(body, "abc0123456789abcdef") << offset;
        }
    }
    // One byte per write, read one byte per block.
    ScriptedServer server([&](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.SendByteByByte(chunked);
    });
    CHttpAgent agent;
    ASSERT_TRUE(agent.SetBlockSize(1));
    ASSERT_TRUE(Ask(agent, server));
    std::string body;
    EXPECT_TRUE(agent.ReceiveBody(body));
    EXPECT_EQ(body, "abc0123456789abcdef");
}

TEST(HttpAgentResponse, OversizedHeadsAndBodiesAreRefused) {
    // A head that never ends within 64 KiB: refused without waiting for the peer.
    std::string endless = "HTTP/1.1 200 OK\r\n";
    while (endless.size() < 70 * 1024) {
        endless += "X-Filler: " + std::string(100, 'f') + "\r\n";
    }
    ScriptedServer server([&](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send(endless);
        connection.WaitClientClose();
    });
    CHttpAgent agent;
    agent.SetTimeout(300);
    EXPECT_FALSE(Ask(agent, server));
    agent.Close();

    // The largest head accepted is exactly 64 KiB.
    std::string fits = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-Filler: ";
    fits += std::string(CHttpAgent::kMaxHeadBytes - fits.size() - 4, 'f') + "\r\n\r\nok";
    server.SetScript(ScriptedServer::Reply(fits));
    ASSERT_TRUE(Ask(agent, server));
    std::string body;
    EXPECT_TRUE(agent.ReceiveBody(body));
    EXPECT_EQ(body, "ok");

    // An announced length over the caller's limit is refused before reading it.
    server.SetScript(ScriptedServer::Reply("HTTP/1.1 200 OK\r\nContent-Length: 2048\r\n\r\n"));
    agent.SetBodyLimit(1024);
    ASSERT_TRUE(Ask(agent, server));
    EXPECT_FALSE(agent.ReceiveBody(body));
    // Chunks that add up past the limit.
    std::string chunks = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 5; ++i) {
        chunks += "100\r\n" + std::string(256, 'c') + "\r\n";
    }
    server.SetScript(ScriptedServer::Reply(chunks + "0\r\n\r\n"));
    ASSERT_TRUE(Ask(agent, server));
    EXPECT_FALSE(agent.ReceiveBody(body));
    agent.SetBodyLimit(1280);
    ASSERT_TRUE(Ask(agent, server));
    EXPECT_TRUE(agent.ReceiveBody(body));
    EXPECT_EQ(body.size(), 1280u);
}

TEST(HttpAgentWaits, StallsTimeOutAndCancelEndsAnyWait) {
    // Head sent, body stalls: the time-out ends the read.
    ScriptedServer server([](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
        connection.WaitClientClose();
    });
    CHttpAgent agent;
    agent.SetTimeout(1);
    ASSERT_TRUE(Ask(agent, server));
    std::string body;
    EXPECT_FALSE(agent.ReceiveBody(body));
    agent.Close();

    // No answer at all and a long time-out: Cancel from another thread ends the wait far
    // inside it, and the agent stays cancelled.
    server.SetScript([](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.WaitClientClose();
    });
    CHttpAgent hung;
    hung.SetTimeout(300);
    ASSERT_TRUE(hung.Open("127.0.0.1", server.Port(), "GET", "/", "HTTP/1.1"));
    ASSERT_TRUE(hung.SendHead());
    auto start = std::chrono::steady_clock::now();
    std::thread canceller([&] {
        EXPECT_TRUE(server.WaitConnections(2));
        std::this_thread::sleep_for(50ms); // let ReceiveHead start waiting
        hung.Cancel();
    });
    EXPECT_FALSE(hung.ReceiveHead());
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    EXPECT_TRUE(hung.IsCancelled());
    EXPECT_FALSE(Ask(hung, server));
}

TEST(HttpAgentWaits, SendsToAClosedPeerFailWithoutSignal) {
    // The peer resets the connection; the body is far larger than the socket buffers.
    ScriptedServer server([](ScriptedConnection& connection) { connection.Pause(1ms); });
    struct sigaction previous = {};
    struct sigaction deflt = {};
    deflt.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &deflt, &previous); // a SIGPIPE would end this test program
    CHttpAgent agent;
    agent.SetTimeout(5);
    ASSERT_TRUE(agent.Open("127.0.0.1", server.Port(), "POST", "/", "HTTP/1.1"));
    ASSERT_TRUE(agent.SendHead());
    ASSERT_TRUE(server.WaitFinished(1));
    std::string big(16 * 1024 * 1024, 'b');
    EXPECT_FALSE(agent.SendBody(big));
    sigaction(SIGPIPE, &previous, nullptr);
}

TEST(HttpAgentWaits, SocketsAboveDescriptor1024AreCloseOnExecAndWaitedWithPoll) {
    rlimit limit = {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max < 4096 ? limit.rlim_max : 4096;
    if (raised.rlim_cur < 1200) {
        GTEST_SKIP() << "descriptor limit " << limit.rlim_max << " is too low";
    }
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
    std::vector<int> fillers;
    for (int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0 && fd < 1100;
         fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) {
        fillers.push_back(fd);
    }
    std::string answer = ScriptedServer::Answer(std::string(100000, 'p'));
    ScriptedServer server([&](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.SendSplit(answer, 1000);
    });
    CHttpAgent agent;
    ASSERT_TRUE(agent.Open("127.0.0.1", server.Port(), "GET", "/", "HTTP/1.1"));
    ASSERT_TRUE(agent.SendHead());
    // Find the agent's socket: the descriptor connected to the server's port.
    int found = -1;
    for (int fd = 3; fd < static_cast<int>(raised.rlim_cur); ++fd) {
        sockaddr_in peer = {};
        socklen_t size = sizeof(peer);
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0 &&
            peer.sin_family == AF_INET && ntohs(peer.sin_port) == server.Port()) {
            found = fd;
        }
    }
    ASSERT_GE(found, 1024);
    EXPECT_TRUE(::fcntl(found, F_GETFD) & FD_CLOEXEC);
    ASSERT_TRUE(agent.ReceiveHead());
    std::string body;
    EXPECT_TRUE(agent.ReceiveBody(body));
    EXPECT_EQ(body.size(), 100000u);
    agent.Close();
    for (int fd : fillers) {
        ::close(fd);
    }
    setrlimit(RLIMIT_NOFILE, &limit);
}

TEST(HttpAgentBlocks, SetBlockSizeBounds) {
    CHttpAgent agent;
    EXPECT_FALSE(agent.SetBlockSize(CHttpAgent::kMaxBlockSize + 1));
    EXPECT_TRUE(agent.SetBlockSize(CHttpAgent::kMaxBlockSize));
    EXPECT_FALSE(agent.SetBlockSize(0));
}

TEST(HttpAgentBlocks, DownloadReportsProgressAndFailsOnShortBodiesFullDisksAndAborts) {
    TempDir dir("httpagent");
    const std::string payload(10000, 'd');
    const std::string answer = ScriptedServer::Answer(payload);
    ScriptedServer server([&](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.SendSplit(answer, 200);
    });

    // Complete: the first call announces the total, then one call per block up to 100 %.
    CHttpAgent agent;
    std::vector<ProgressCall> calls;
    ASSERT_TRUE(Ask(agent, server));
    ASSERT_TRUE(agent.DownloadToFile(dir / "full.bin", Recorder(calls), nullptr));
    EXPECT_EQ(ReadTestFile(dir / "full.bin"), payload);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front().percent, 0);
    EXPECT_EQ(calls.front().total, 10000);
    EXPECT_EQ(calls.front().blockLength, 0);
    EXPECT_EQ(calls.back().percent, 100);
    EXPECT_EQ(calls.back().received, 10000);
    int64_t sum = 0;
    for (size_t i = 1; i < calls.size(); ++i) {
        sum += calls[i].blockLength;
        EXPECT_EQ(calls[i].received, sum);
        EXPECT_LE(calls[i].blockLength, CHttpAgent::kDefaultBlockSize);
        EXPECT_GE(calls[i].percent, calls[i - 1].percent);
    }

    // A full disk fails the download; it is never reported complete.
    calls.clear();
    ASSERT_TRUE(Ask(agent, server));
    EXPECT_FALSE(agent.DownloadToFile("/dev/full", Recorder(calls), nullptr));
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().percent, -1);

    // The callback aborts after its second call: false, and the partial file stays.
    calls.clear();
    ASSERT_TRUE(Ask(agent, server));
    EXPECT_FALSE(agent.DownloadToFile(dir / "aborted.bin", Recorder(calls, 1), nullptr));
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_TRUE(fs::exists(dir / "aborted.bin"));

    // The connection closes early: one last call with -1.
    server.SetScript(ScriptedServer::Reply(answer.substr(0, answer.size() - 10)));
    calls.clear();
    ASSERT_TRUE(Ask(agent, server));
    EXPECT_FALSE(agent.DownloadToFile(dir / "short.bin", Recorder(calls), nullptr));
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().percent, -1);
    EXPECT_EQ(calls.back().received, 9990);

    // Without a Content-Length nothing is created.
    server.SetScript(ScriptedServer::Reply(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n0\r\n\r\n"));
    ASSERT_TRUE(Ask(agent, server));
    EXPECT_FALSE(agent.DownloadToFile(dir / "none.bin", nullptr, nullptr));
    EXPECT_FALSE(fs::exists(dir / "none.bin"));

    // ReceiveBodyBlocks hands over the same bytes, and needs its callback.
    server.SetScript(ScriptedServer::Reply(answer));
    ASSERT_TRUE(Ask(agent, server));
    EXPECT_FALSE(agent.ReceiveBodyBlocks(nullptr, nullptr));
    std::string collected;
    int userValue = 0;
    ASSERT_TRUE(agent.SetBlockSize(1000));
    ASSERT_TRUE(Ask(agent, server));
    EXPECT_TRUE(agent.ReceiveBodyBlocks(
        [&](int, int, const char* block, int length, int64_t received, int64_t, void* user) {
            collected.append(block == nullptr ? "" : std::string(block, length));
            EXPECT_LE(length, 1000);
            EXPECT_EQ(received, static_cast<int64_t>(collected.size()));
            EXPECT_EQ(user, &userValue);
            return 1;
        },
        &userValue));
    EXPECT_EQ(collected, payload);
}
