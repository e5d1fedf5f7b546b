// Answers that come later: a request is answered on its connection from another thread without
// a worker waiting for it, the time-out answers when nothing comes, and a late answer after
// the connection is done or the server is gone does nothing.

#include "NetClient.h"
#include "net/CHServer.h"
#include "net/CHWebServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;

namespace {

class DeferringServer : public CHServer {
public:
    explicit DeferringServer(int timeoutMs) : CHServer(0), m_timeoutMs(timeoutMs) {}
    ~DeferringServer() override { StopAndWait(); }

    std::vector<Deferral> Take() {
        std::lock_guard lock(m_lock);
        return std::move(m_waiting);
    }
    size_t Waiting() {
        std::lock_guard lock(m_lock);
        return m_waiting.size();
    }

protected:
    int OnRequest(std::string head, std::string, const Peer&, std::string& response) override {
        if (head.rfind("GET /now", 0) == 0) {
            response = "now";
            return 1;
        }
        Deferral deferral = DeferAnswer("timed out", m_timeoutMs);
        response = "ignored";
        std::lock_guard lock(m_lock);
        m_waiting.push_back(deferral);
        return 1;
    }

private:
    const int m_timeoutMs;
    std::mutex m_lock;
    std::vector<Deferral> m_waiting;
};

bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000 && !condition(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

} // namespace

TEST(DeferredAnswer, ManyWaitingRequestsHoldNoWorkerAndGetTheirOwnAnswers) {
    DeferringServer server(60000);
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    // More waiting requests than the server has worker threads.
    constexpr int kWaiting = 12;
    std::vector<std::unique_ptr<TestConnection>> connections;
    for (int i = 0; i < kWaiting; ++i) {
        connections.push_back(std::make_unique<TestConnection>(thread.Port()));
        ASSERT_TRUE(connections.back()->Send("GET /later HTTP/1.1\r\n\r\n"));
        ASSERT_TRUE(WaitFor([&] { return server.Waiting() == static_cast<size_t>(i + 1); }));
    }
    // Other requests are still served meanwhile.
    EXPECT_EQ(Exchange(thread.Port(), "GET /now HTTP/1.1\r\n\r\n"), "now");
    std::vector<CHServer::Deferral> waiting = server.Take();
    ASSERT_EQ(waiting.size(), static_cast<size_t>(kWaiting));
    // Answered in reverse order from other threads; only the first answer counts.
    std::vector<std::thread> answerers;
    for (int i = kWaiting - 1; i >= 0; --i) {
        answerers.emplace_back([&waiting, i] {
            EXPECT_TRUE(waiting[i].Send("answer " + std::to_string(i)));
            waiting[i].Send("second answer");
        });
    }
    for (auto& answerer : answerers) {
        answerer.join();
    }
    for (int i = 0; i < kWaiting; ++i) {
        bool closed = false;
        EXPECT_EQ(connections[i]->ReadAll(10s, &closed), "answer " + std::to_string(i));
        EXPECT_TRUE(closed);
    }
}

TEST(DeferredAnswer, TheTimeOutAnswersAndALateAnswerGoesNowhere) {
    DeferringServer server(300);
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    TestConnection c(thread.Port());
    ASSERT_TRUE(c.Send("GET /later HTTP/1.1\r\n\r\n"));
    bool closed = false;
    EXPECT_EQ(c.ReadAll(10s, &closed), "timed out");
    EXPECT_TRUE(closed);
    std::vector<CHServer::Deferral> waiting = server.Take();
    ASSERT_EQ(waiting.size(), 1u);
    // The connection context may serve another request by now: the late answer must not
    // reach it.
    TestConnection next(thread.Port());
    ASSERT_TRUE(next.Send("GET /now HTTP/1.1\r\n\r\n"));
    waiting[0].Send("too late");
    EXPECT_EQ(next.ReadAll(10s), "now");
}

TEST(DeferredAnswer, AnswersAfterTheServerStoppedDoNothing) {
    std::vector<CHServer::Deferral> waiting;
    {
        DeferringServer server(60000);
        ServerThread thread(server);
        ASSERT_TRUE(thread.Listening());
        TestConnection c(thread.Port());
        ASSERT_TRUE(c.Send("GET /later HTTP/1.1\r\n\r\n"));
        ASSERT_TRUE(WaitFor([&] { return server.Waiting() == 1; }));
        waiting = server.Take();
        thread.Join();
        EXPECT_FALSE(waiting[0].Send("after stop"));
        EXPECT_TRUE(c.WaitClosed(10s));
    }
    EXPECT_FALSE(waiting[0].Send("after destruction"));
    EXPECT_FALSE(CHServer::Deferral().Send("never deferred"));
}

TEST(DeferredAnswer, AHandlerAnswersLaterThroughTheWebLayer) {
    CHWebServer server(0);
    std::mutex lock;
    std::vector<HttpResponse::AnswerFn> later;
    server.AddOpenRoute("/echo", [&](const HttpRequest&, HttpResponse& response) {
        response.body = "fallback";
        response.answerTimeout = 60s;
        response.answerLater = [&](HttpResponse::AnswerFn answer) {
            std::lock_guard guard(lock);
            later.push_back(std::move(answer));
        };
    });
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    TestConnection c(thread.Port());
    ASSERT_TRUE(c.Send("GET /echo HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard guard(lock);
        return later.size() == 1;
    }));
    HttpResponse answer;
    answer.body = "stored";
    later[0](answer);
    std::string reply = c.ReadAll(10s);
    EXPECT_NE(reply.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << reply;
    EXPECT_NE(reply.find("Content-Length: 6\r\n"), std::string::npos) << reply;
    EXPECT_EQ(reply.substr(reply.size() - 6), "stored");
}
