// The TCP server: framing of one request per connection, the reaper, pooling, stop and bind.

#include "NetClient.h"
#include "net/CHServer.h"
#include "platform/Dialogs.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;

namespace {

class RecordingServer : public CHServer {
public:
    struct Call {
        std::string head;
        std::string body;
        std::string peer;
    };
    using Answer =
        std::function<int(const std::string& head, const std::string& body, std::string& response)>;

    explicit RecordingServer(Answer answer = {}, int port = 0)
        : CHServer(port), m_answer(std::move(answer)) {}
    ~RecordingServer() override { StopAndWait(); }

    std::vector<Call> Calls() const {
        std::lock_guard lock(m_lock);
        return m_calls;
    }
    size_t CallCount() const {
        std::lock_guard lock(m_lock);
        return m_calls.size();
    }

protected:
    int OnRequest(std::string head, std::string body, const Peer& peer,
                  std::string& response) override {
        if (m_answer) {
            int result = m_answer(head, body, response);
            std::lock_guard lock(m_lock);
            m_calls.push_back({std::move(head), std::string(), peer.address});
            return result;
        }
        response = "answer:" + std::to_string(body.size());
        std::lock_guard lock(m_lock);
        m_calls.push_back({std::move(head), std::move(body), peer.address});
        return 1;
    }

private:
    Answer m_answer;
    mutable std::mutex m_lock;
    std::vector<Call> m_calls;
};

// Deterministic filler so a body can be checked without keeping a copy.
std::string Pattern(uint32_t seed, size_t size) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return out;
}

TEST(ServerFraming, AssemblesHeadFromSeveralPacketsAndCallsOnce) {
    RecordingServer server;
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    TestConnection c(thread.Port());
    ASSERT_TRUE(c.Connected());
    const std::string head = "GET /x HTTP/1.1\r\nHost: a\r\nX-Long: 0123456789\r\n\r\n";
    for (size_t i = 0; i < head.size(); i += 7) {
        ASSERT_TRUE(c.Send(head.substr(i, 7)));
        std::this_thread::sleep_for(15ms);
    }
    bool closed = false;
    EXPECT_EQ(c.ReadAll(10s, &closed), "answer:0");
    EXPECT_TRUE(closed);
    auto calls = server.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].head, head);
    EXPECT_EQ(calls[0].body, "");
    EXPECT_EQ(calls[0].peer, "127.0.0.1");
}

TEST(ServerFraming, WithoutLengthBodyIsWhatCameWithTheHead) {
    RecordingServer server;
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    EXPECT_EQ(Exchange(thread.Port(), "POST / HTTP/1.1\r\nA: b\r\n\r\ntrailing"), "answer:8");
    // A header that only ends in the name, or mentions it in its value, announces nothing.
    EXPECT_EQ(Exchange(thread.Port(), "POST / HTTP/1.1\r\nX-Content-Length: 5\r\n"
                                      "X-Note: Content-Length: 7\r\n\r\n"),
              "answer:0");
    auto calls = server.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].body, "trailing");
}

TEST(ServerFraming, BodySplitAcrossReceivesIsExactAndExtraBytesAreDropped) {
    RecordingServer server;
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    for (const char* name : {"Content-Length", "content-length", "CONTENT-LENGTH"}) {
        SCOPED_TRACE(name);
        TestConnection c(thread.Port());
        ASSERT_TRUE(c.Connected());
        ASSERT_TRUE(c.Send(std::string("POST /u HTTP/1.1\r\n") + name + ":  10 \r\n\r\n0123"));
        std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(c.Send("45"));
        std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(c.Send("6789EXTRA-BYTES"));
        EXPECT_EQ(c.ReadAll(10s), "answer:10");
    }
    auto calls = server.Calls();
    ASSERT_EQ(calls.size(), 3u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.body, "0123456789");
    }
}

TEST(ServerFraming, BadLengthsAndOversizedHeadsCloseWithoutResponse) {
    RecordingServer server;
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    const std::vector<std::string> lengths = {"-1",
                                              "abc",
                                              "",
                                              "5x",
                                              "+5",
                                              "0x10",
                                              "99999999999999999999999",
                                              "268435457",
                                              "1 2",
                                              "5\r\nContent-Length: 6"};
    for (const std::string& length : lengths) {
        SCOPED_TRACE(length);
        TestConnection c(thread.Port());
        ASSERT_TRUE(c.Connected());
        ASSERT_TRUE(c.Send("POST / HTTP/1.1\r\nContent-Length: " + length + "\r\n\r\n12345"));
        bool closed = false;
        EXPECT_EQ(c.ReadAll(10s, &closed), "");
        EXPECT_TRUE(closed);
    }
    {
        // 64 KiB of header without the blank line.
        TestConnection c(thread.Port());
        ASSERT_TRUE(c.Connected());
        c.Send("GET / HTTP/1.1\r\n");
        std::string filler = "X-Fill: " + std::string(1000, 'a') + "\r\n";
        for (int i = 0; i < 70; ++i) {
            if (!c.Send(filler)) {
                break;
            }
        }
        bool closed = false;
        EXPECT_EQ(c.ReadAll(10s, &closed), "");
        EXPECT_TRUE(closed);
    }
    EXPECT_EQ(server.CallCount(), 0u);
    // The largest announced body still allowed is waited for, not refused.
    TestConnection c(thread.Port());
    ASSERT_TRUE(c.Send("POST / HTTP/1.1\r\nContent-Length: 268435456\r\n\r\nabc"));
    bool closed = true;
    c.ReadAll(300ms, &closed);
    EXPECT_FALSE(closed);
}

TEST(ServerFraming, KeepAliveIsIgnoredAndConnectionClosedAfterAnswer) {
    RecordingServer server;
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    TestConnection c(thread.Port());
    ASSERT_TRUE(c.Send("GET / HTTP/1.1\r\nConnection: keep-alive\r\n\r\n"));
    bool closed = false;
    EXPECT_EQ(c.ReadAll(10s, &closed), "answer:0");
    EXPECT_TRUE(closed);
}

TEST(ServerFraming, ZeroResultAndEmptyResponseCloseWithoutBytes) {
    RecordingServer server([](const std::string& head, const std::string&, std::string& response) {
        response = "unsent";
        return head.find("/zero") != std::string::npos ? 0 : 1;
    });
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    EXPECT_EQ(Exchange(thread.Port(), "GET /zero HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(Exchange(thread.Port(), "GET /one HTTP/1.1\r\n\r\n"), "unsent");

    RecordingServer base([](const std::string&, const std::string&, std::string& response) {
        response.clear();
        return 1;
    });
    ServerThread baseThread(base);
    ASSERT_TRUE(baseThread.Listening());
    TestConnection c(baseThread.Port());
    ASSERT_TRUE(c.Send("GET / HTTP/1.1\r\n\r\n"));
    bool closed = false;
    EXPECT_EQ(c.ReadAll(10s, &closed), "");
    EXPECT_TRUE(closed);
}

TEST(ServerFraming, ThrowingHandlerClosesConnectionAndServerCarriesOn) {
    RecordingServer server([](const std::string& head, const std::string&, std::string& response) {
        if (head.find("/throw") != std::string::npos) {
            throw std::runtime_error("handler failure");
        }
        response = "fine";
        return 1;
    });
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    EXPECT_EQ(Exchange(thread.Port(), "GET /throw HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(Exchange(thread.Port(), "GET /ok HTTP/1.1\r\n\r\n"), "fine");
}

TEST(ServerPool, ImmediateDisconnectsRecycleContextsAndKeepAcceptsPosted) {
    RecordingServer server;
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    ASSERT_TRUE(
        WaitFor([&] { return server.GetStats().accepts == CHServer::kPostedAccepts; }, 10s));
    // Paced: a loaded machine can be slow to wake the server, and a full listen backlog would
    // stall the next connect for a second.
    size_t opened = 0;
    auto drained = [&] {
        auto stats = server.GetStats();
        return stats.accepted == opened && stats.connections == 0 &&
               stats.accepts == CHServer::kPostedAccepts;
    };
    for (int i = 0; i < CHServer::kPostedAccepts + 500; ++i) {
        TestConnection c(thread.Port());
        ASSERT_TRUE(c.Connected());
        ++opened;
        if (i % 50 != 49) {
            // Reset: nothing left behind in TIME_WAIT.
            linger reset{1, 0};
            setsockopt(c.Fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            continue;
        }
        // An orderly close; the next connect must not reuse its port while the server is still
        // closing its side.
        c.Close();
        ASSERT_TRUE(WaitFor(drained, 10s));
    }
    EXPECT_TRUE(WaitFor(
        [&] {
            auto stats = server.GetStats();
            return stats.connections == 0 && stats.accepts == CHServer::kPostedAccepts;
        },
        10s));
    EXPECT_EQ(server.GetStats().contexts, static_cast<size_t>(CHServer::kPostedAccepts));
    EXPECT_EQ(server.CallCount(), 0u);
    EXPECT_EQ(Exchange(thread.Port(), "GET / HTTP/1.1\r\n\r\n"), "answer:0");
}

TEST(ServerReaper, SilentShortAndStalledConnectionsAreClosedAfterFiveSeconds) {
    const std::string big(64 << 20, 'z');
    RecordingServer server([&](const std::string&, const std::string&, std::string& response) {
        response = big;
        return 1;
    });
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());

    TestConnection silent(thread.Port());
    TestConnection shortBody(thread.Port());
    TestConnection halfHead(thread.Port());
    TestConnection stalled(thread.Port());
    TestConnection trickle(thread.Port());
    ASSERT_TRUE(silent.Connected() && shortBody.Connected() && halfHead.Connected() &&
                stalled.Connected() && trickle.Connected());
    // The stalled client never reads its 64 MiB answer.
    int small = 4096;
    setsockopt(stalled.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(shortBody.Send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\nonly-some"));
    ASSERT_TRUE(halfHead.Send("GET / HTTP/1.1\r\nHost: x\r\n"));
    ASSERT_TRUE(stalled.Send("GET /big HTTP/1.1\r\n\r\n"));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitFor([&] { return server.GetStats().connections == 5; }, 5s));

    // A client that keeps sending, slowly, is not silent.
    ASSERT_TRUE(trickle.Send("GET / HTTP/1.1\r\n"));
    for (int i = 0; i < 7; ++i) {
        std::this_thread::sleep_for(1s);
        ASSERT_TRUE(trickle.Send("X: y\r\n"));
        if (i == 3) {
            EXPECT_EQ(server.GetStats().connections, 5u) << "closed before five seconds";
        }
    }
    EXPECT_TRUE(WaitFor([&] { return server.GetStats().connections == 1; }, 3s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);

    for (TestConnection* c : {&silent, &shortBody, &halfHead}) {
        bool closed = false;
        EXPECT_EQ(c->ReadAll(2s, &closed), "");
        EXPECT_TRUE(closed);
    }
    EXPECT_EQ(server.CallCount(), 1u); // only the stalled request got as far as the handler
    ASSERT_TRUE(trickle.Send("\r\n"));
    EXPECT_EQ(trickle.ReadAll(10s).size(), big.size());
}

TEST(ServerBodies, TenConcurrentTwentyMebibyteBodiesArriveByteExact) {
    constexpr size_t kSize = 20u << 20;
    RecordingServer server([](const std::string& head, const std::string& body,
                              std::string& response) {
        uint32_t seed = static_cast<uint32_t>(std::atoi(head.c_str() + head.find("X-Seed:") + 7));
        response = body == Pattern(seed, kSize) ? "exact" : "differs";
        return 1;
    });
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    std::vector<std::string> answers(10);
    std::vector<std::thread> clients;
    for (uint32_t i = 0; i < 10; ++i) {
        clients.emplace_back([&, i] {
            // Made before connecting: on a loaded machine making it may take longer than the
            // server waits for a silent connection.
            std::string request = "POST /import HTTP/1.1\r\nX-Seed: " + std::to_string(i + 1) +
                                  "\r\nContent-Length: " + std::to_string(kSize) + "\r\n\r\n";
            request += Pattern(i + 1, kSize);
            TestConnection c(thread.Port());
            if (c.Send(request)) {
                answers[i] = c.ReadAll(120s);
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    for (const std::string& answer : answers) {
        EXPECT_EQ(answer, "exact");
    }
    EXPECT_EQ(server.CallCount(), 10u);
}

// Asked once per request whose body is still to come; refused bodies are read to their end
// but not handed on.
class BodyChoosingServer : public RecordingServer {
public:
    int Asked() const { return m_asked.load(); }

protected:
    HeadVerdict OnHead(std::string_view head, const Peer&) override {
        ++m_asked;
        HeadVerdict verdict;
        if (head.find("/drop") != std::string_view::npos) {
            verdict.body = HeadVerdict::Body::Drop;
        } else if (head.find("/refuse") != std::string_view::npos) {
            verdict.body = HeadVerdict::Body::Answer;
        }
        return verdict;
    }

private:
    std::atomic<int> m_asked{0};
};

TEST(ServerBodies, RefusedBodiesAreConsumedButNotKept) {
    BodyChoosingServer server;
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    for (const char* path : {"/keep", "/drop"}) {
        SCOPED_TRACE(path);
        TestConnection c(thread.Port());
        ASSERT_TRUE(c.Connected());
        ASSERT_TRUE(c.Send(std::string("POST ") + path + " HTTP/1.1\r\nContent-Length: " +
                           std::to_string(3u << 20) + "\r\n\r\n"));
        std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(c.Send(Pattern(7, 3u << 20)));
        EXPECT_EQ(c.ReadAll(30s),
                  std::string("answer:") + (path[1] == 'k' ? std::to_string(3u << 20) : "0"));
    }
    EXPECT_EQ(server.Asked(), 2);
    // A request that is complete with its head needs no decision.
    EXPECT_EQ(Exchange(thread.Port(), "POST /drop HTTP/1.1\r\nContent-Length: 2\r\n\r\nab"),
              "answer:2");
    EXPECT_EQ(server.Asked(), 2);
}

// Bodies are charged by the bytes that have arrived: announcing a large body and dripping it
// holds nothing back from others, while bodies really received beyond the budget are closed.
TEST(ServerBodies, TheBudgetCountsReceivedBytesAndComesBack) {
    constexpr size_t kSize = 600u << 10;
    RecordingServer server;
    server.SetBodyBudget(1 << 20);
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    const std::string head =
        "POST /import HTTP/1.1\r\nContent-Length: " + std::to_string(kSize) + "\r\n\r\n";
    std::vector<std::unique_ptr<TestConnection>> drips;
    for (int i = 0; i < 4; ++i) {
        drips.push_back(std::make_unique<TestConnection>(thread.Port()));
        ASSERT_TRUE(
            drips.back()->Send("POST /import HTTP/1.1\r\nContent-Length: 268435456\r\n\r\nx"));
    }
    TestConnection first(thread.Port());
    ASSERT_TRUE(first.Send(head));
    ASSERT_TRUE(first.Send(Pattern(1, kSize)));
    EXPECT_EQ(first.ReadAll(10s), "answer:" + std::to_string(kSize));

    // Two bodies of 600 KiB do not fit into 1 MiB together: the one that overflows is closed.
    TestConnection holding(thread.Port());
    ASSERT_TRUE(holding.Send(head + Pattern(2, kSize - 1)));
    ASSERT_TRUE(WaitFor([&] { return server.BodyBytesHeld() >= int64_t{kSize - 1}; }, 10s));
    TestConnection second(thread.Port());
    ASSERT_TRUE(second.Send(head));
    second.Send(Pattern(3, kSize));     // may fail half-way: the server closes
    EXPECT_TRUE(second.WaitClosed(5s)); // at once, long before the reaper
    ASSERT_TRUE(holding.Send("z"));
    EXPECT_EQ(holding.ReadAll(10s), "answer:" + std::to_string(kSize));

    // Served bodies, and connections closed half-way, give their share back.
    drips.clear();
    EXPECT_TRUE(WaitFor([&] { return server.BodyBytesHeld() == 0; }, 5s)) << server.BodyBytesHeld();
    EXPECT_EQ(server.CallCount(), 2u);
}

// One address, or one key, may hold only its share of the budget.
class OwnerServer : public RecordingServer {
protected:
    HeadVerdict OnHead(std::string_view head, const Peer&) override {
        HeadVerdict verdict;
        size_t at = head.find("X-Owner: ");
        if (at != std::string_view::npos) {
            verdict.owner = std::string(head.substr(at + 9, head.find('\r', at) - at - 9));
        }
        return verdict;
    }
};

TEST(ServerBodies, OneAddressOrOneKeyHoldsAtMostItsShare) {
    constexpr size_t kSize = 400u << 10;
    OwnerServer server;
    server.SetBodyShare(600 << 10);
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    auto hold = [&](const char* from, const std::string& owner) {
        auto c = std::make_unique<TestConnection>(thread.Port(), from);
        std::string head = "POST /import HTTP/1.1\r\nContent-Length: " + std::to_string(kSize + 1) +
                           "\r\n" + (owner.empty() ? "" : "X-Owner: " + owner + "\r\n") + "\r\n";
        c->Send(head);
        c->Send(Pattern(4, kSize));
        return c;
    };
    auto first = hold("127.0.0.2", "");
    ASSERT_TRUE(WaitFor([&] { return server.BodyBytesHeld() >= int64_t{kSize}; }, 10s));
    // The same address again: over its share. Another address: fits.
    auto sameAddress = hold("127.0.0.2", "");
    EXPECT_TRUE(sameAddress->WaitClosed(5s));
    auto otherAddress = hold("127.0.0.3", "phone");
    ASSERT_TRUE(WaitFor([&] { return server.BodyBytesHeld() >= int64_t{2 * kSize}; }, 10s));
    // The same key from yet another address: over the key's share.
    auto sameKey = hold("127.0.0.4", "phone");
    EXPECT_TRUE(sameKey->WaitClosed(5s));
    for (auto* c : {first.get(), otherAddress.get()}) {
        ASSERT_TRUE(c->Send("e"));
        EXPECT_EQ(c->ReadAll(10s), "answer:" + std::to_string(kSize + 1));
    }
    EXPECT_TRUE(WaitFor([&] { return server.BodyBytesHeld() == 0; }, 5s));
}

TEST(ServerBodies, AnAnswerAtTheHeadDoesNotWaitForTheBody) {
    BodyChoosingServer server;
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    TestConnection c(thread.Port(), "127.0.0.2");
    ASSERT_TRUE(c.Send("POST /refuse HTTP/1.1\r\nContent-Length: 268435456\r\n\r\nabc"));
    bool closed = false;
    EXPECT_EQ(c.ReadAll(5s, &closed), "answer:0");
    EXPECT_TRUE(closed);
    EXPECT_EQ(server.BodyBytesHeld(), 0);
}

// Slow clients: the head has a deadline however steadily it trickles, a body must keep a
// minimum rate, and one address without a key gets only so many connections.
TEST(ServerSlowClients, TricklingHeadsAndDrippingBodiesAreClosed) {
    RecordingServer server;
    server.SetRequestDeadlines(2000, 1000, 64 << 10);
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    TestConnection head(thread.Port(), "127.0.0.2");
    TestConnection body(thread.Port(), "127.0.0.2");
    ASSERT_TRUE(body.Send("POST /import HTTP/1.1\r\nContent-Length: 1000000\r\n\r\n"));
    TestConnection fast(thread.Port(), "127.0.0.2");
    ASSERT_TRUE(fast.Send("POST /import HTTP/1.1\r\nContent-Length: 1000000\r\n\r\n"));
    const std::string chunk(100 << 10, 'f');
    bool headClosed = false;
    bool bodyClosed = false;
    for (int i = 0; i < 40 && !(headClosed && bodyClosed); ++i) {
        // Both stay busy enough for the idle time-out; neither is enough for the deadlines.
        headClosed = headClosed || !head.Send("X") || head.WaitClosed(100ms);
        bodyClosed = bodyClosed || !body.Send("d") || body.WaitClosed(100ms);
        if (i < 9) {
            ASSERT_TRUE(fast.Send(chunk)) << i;
        }
    }
    EXPECT_TRUE(headClosed);
    EXPECT_TRUE(bodyClosed);
    ASSERT_TRUE(fast.Send(std::string(1000000 - 9 * chunk.size(), 'f')));
    EXPECT_EQ(fast.ReadAll(10s), "answer:1000000");
}

TEST(ServerSlowClients, OneAddressWithoutAKeyGetsOnlyItsShareOfConnections) {
    OwnerServer server;
    server.SetSocketOwnerLookup([](uint32_t, uint16_t, uint32_t, uint16_t) { return int64_t{-1}; });
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    std::vector<std::unique_ptr<TestConnection>> held;
    for (size_t i = 0; i < CHServer::kMaxUnkeyedPerAddress; ++i) {
        held.push_back(std::make_unique<TestConnection>(thread.Port(), "127.0.0.2"));
    }
    ASSERT_TRUE(WaitFor([&] { return server.GetStats().connections == held.size(); }, 10s));
    TestConnection extra(thread.Port(), "127.0.0.2");
    EXPECT_TRUE(extra.WaitClosed(5s));
    // Other addresses are not affected.
    EXPECT_EQ(Exchange(thread.Port(), "GET / HTTP/1.1\r\n\r\n", "127.0.0.3"), "answer:0");
    // A connection that shows a key leaves the count.
    ASSERT_TRUE(held[0]->Send("POST /import HTTP/1.1\r\nX-Owner: k\r\nContent-Length: 2\r\n\r\na"));
    std::this_thread::sleep_for(200ms);
    TestConnection another(thread.Port(), "127.0.0.2");
    ASSERT_TRUE(another.Send("GET / HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(another.ReadAll(5s), "answer:0");
    // Closed connections leave it too.
    held.resize(10);
    EXPECT_TRUE(WaitFor([&] { return server.GetStats().connections <= 10; }, 5s));
    EXPECT_EQ(Exchange(thread.Port(), "GET / HTTP/1.1\r\n\r\n", "127.0.0.2"), "answer:0");
}

TEST(ServerSlowClients, LoopbackOfThisUserIsNotCapped) {
    RecordingServer server;
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    std::vector<std::unique_ptr<TestConnection>> held;
    for (size_t i = 0; i < CHServer::kMaxUnkeyedPerAddress + 8; ++i) {
        held.push_back(std::make_unique<TestConnection>(thread.Port()));
    }
    EXPECT_EQ(Exchange(thread.Port(), "GET / HTTP/1.1\r\n\r\n"), "answer:0");
    // Accepts run on the server's threads: wait for the last of them rather than race it.
    EXPECT_TRUE(WaitFor([&] { return server.GetStats().connections == held.size(); }, 5s))
        << server.GetStats().connections;
}

TEST(ServerLifecycle, StopReturnsPromptlyWithConnectionsOpen) {
    auto server = std::make_unique<RecordingServer>();
    std::atomic<int> result{-1};
    std::thread runner([&] { result = server->Run(); });
    ASSERT_TRUE(server->WaitListening(10000));
    int port = server->BoundPort();
    EXPECT_GT(port, 0);
    TestConnection idle(port);
    TestConnection partial(port);
    ASSERT_TRUE(partial.Send("GET / HTTP/1.1\r\n"));
    ASSERT_TRUE(WaitFor([&] { return server->GetStats().connections == 2; }, 5s));

    auto start = std::chrono::steady_clock::now();
    server->Stop();
    server->Stop();
    runner.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(idle.WaitClosed(2s));
    EXPECT_EQ(server->BoundPort(), 0);
    EXPECT_EQ(server->Run(), 0); // runs at most once
    server.reset();
}

TEST(ServerLifecycle, StopBeforeRunAndDestructionWhileRunning) {
    RecordingServer early;
    early.Stop();
    EXPECT_EQ(early.Run(), 0);
    EXPECT_FALSE(early.WaitListening(100));

    // Destroying a running server stops it and waits for Run to return first.
    auto server = std::make_unique<RecordingServer>();
    std::thread runner([&] { server->Run(); });
    ASSERT_TRUE(server->WaitListening(10000));
    TestConnection c(server->BoundPort());
    ASSERT_TRUE(c.Send("GET / HTTP/1.1\r\n"));
    auto start = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    runner.join();
}

TEST(ServerLifecycle, PortInUseIsReportedOnceAndRunReturns) {
    int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(blocker, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    socklen_t length = sizeof address;
    getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length);
    int port = ntohs(address.sin_port);

    std::vector<std::pair<std::string, std::string>> messages;
    DialogBackend backend;
    backend.showMessage = [&](const std::string& title, const std::string& text) {
        messages.emplace_back(title, text);
    };
    SetHeadlessMode(false);
    SetDialogBackend(backend);
    RecordingServer server({}, port);
    EXPECT_EQ(server.Run(), 0);
    SetDialogBackend({});
    ::close(blocker);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].first, "提示");
    EXPECT_EQ(messages[0].second, "端口绑定失败，请确认端口没有被占用.");
    EXPECT_FALSE(server.WaitListening(100));
    EXPECT_EQ(server.BoundPort(), 0);
}

TEST(ServerLifecycle, RestartOnTheSamePortAfterServing) {
    int port = 0;
    {
        RecordingServer first;
        ServerThread thread(first);
        ASSERT_TRUE(thread.Listening());
        port = thread.Port();
        // The server closes first, leaving its side of these connections in TIME_WAIT.
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(Exchange(port, "GET / HTTP/1.1\r\n\r\n"), "answer:0");
        }
    }
    RecordingServer second({}, port);
    ServerThread thread(second);
    ASSERT_TRUE(thread.Listening());
    EXPECT_EQ(thread.Port(), port);
    EXPECT_EQ(Exchange(port, "GET / HTTP/1.1\r\n\r\n"), "answer:0");
}

TEST(ServerLifecycle, PortComesFromTheEnvironmentWhenValid) {
    const char* saved = std::getenv("VELLUMO_PORT");
    std::string keep = saved ? saved : "";
    unsetenv("VELLUMO_PORT");
    EXPECT_EQ(CHServer::DefaultPort(), 6639);
    for (auto [text, port] : std::vector<std::pair<const char*, int>>{{"7001", 7001},
                                                                      {"65535", 65535},
                                                                      {"0", 6639},
                                                                      {"65536", 6639},
                                                                      {"-5", 6639},
                                                                      {"80x", 6639},
                                                                      {"", 6639},
                                                                      {"99999999999999", 6639}}) {
        setenv("VELLUMO_PORT", text, 1);
        EXPECT_EQ(CHServer::DefaultPort(), port) << text;
    }
    if (saved) {
        setenv("VELLUMO_PORT", keep.c_str(), 1);
    } else {
        unsetenv("VELLUMO_PORT");
    }
}

} // namespace
