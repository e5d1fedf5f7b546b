#pragma once
// The program's TCP server: listens on every IPv4 interface, reads exactly one request per
// connection, hands it to OnRequest on a worker thread, sends the answer in one piece and
// closes. Connections silent for more than five seconds are closed by a reaper.

#include "platform/ServicePort.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

class CHServer {
public:
    static constexpr int kDefaultPort = kDefaultServicePort;
    static constexpr int kBacklog = 100;
    static constexpr int kPostedAccepts = 2000;
    static constexpr size_t kReceiveBufferSize = 4096;
    static constexpr int kIdleTimeoutMs = 5000;
    // Request bodies held by all connections together, counted by their Content-Length when
    // the head arrives. Each may be as large as the framing limit (256 MiB), and 2000
    // connections of that size would exhaust any PC; a request that does not fit is closed
    // without a response, and the phone sends it again later.
    static constexpr int64_t kDefaultBodyBudget = int64_t{1} << 30;
    static constexpr char kPortInUseTitle[] = "提示";
    static constexpr char kPortInUseText[] = "端口绑定失败，请确认端口没有被占用.";

    struct ConnContext;
    struct Life;

    // The handle of a request whose answer comes later (see DeferAnswer). Copyable; usable from
    // any thread, also after the server has gone (then it does nothing).
    class Deferral {
    public:
        Deferral() = default;
        bool Valid() const { return m_context != nullptr; }
        // Sends the answer and closes the connection. Only the first of Send and the time-out
        // counts; false when the answer can no longer be sent.
        bool Send(std::string response) const;

    private:
        friend class CHServer;
        std::shared_ptr<Life> m_life;
        ConnContext* m_context = nullptr;
        uint64_t m_generation = 0;
    };

    // Free connection contexts. Contexts are created on demand and reused, never freed while
    // the pool lives.
    class CHMemPool {
    public:
        CHMemPool() = default;
        virtual ~CHMemPool();
        CHMemPool(const CHMemPool&) = delete;
        CHMemPool& operator=(const CHMemPool&) = delete;

        // Front of the free queue; null when it is empty (the server then creates one).
        ConnContext* Acquire();
        // Adopts a newly created context; it counts as handed out.
        ConnContext* Adopt(std::unique_ptr<ConnContext> context);
        void Recycle(ConnContext* context);
        size_t Allocated() const;
        size_t Free() const;

    private:
        mutable std::mutex m_lock;
        std::deque<ConnContext*> m_free;
        std::vector<std::unique_ptr<ConnContext>> m_all;
    };

    struct Stats {
        size_t contexts = 0;    // contexts ever created
        size_t connections = 0; // connections open (receiving, handling or sending)
        size_t accepts = 0;     // accepts outstanding
        size_t accepted = 0;    // connections accepted since Run started
    };

    // Port from $VELLUMO_PORT when it holds a valid port number, else 6639.
    CHServer();
    // 0 picks an ephemeral port.
    explicit CHServer(int port);
    // Stops the server and waits until Run has returned; the owner still joins the thread that
    // called Run.
    virtual ~CHServer();
    CHServer(const CHServer&) = delete;
    CHServer& operator=(const CHServer&) = delete;

    // Blocks the calling thread while serving. Returns 0 at once when the port cannot be bound
    // (after telling the user) or set-up fails, 1 after Stop. Returns 0 at once if Stop came
    // first; a server runs at most once.
    int Run();
    // From any thread, any number of times: Run closes everything, joins its workers and
    // returns.
    void Stop();
    // The port being listened on; 0 until listening.
    int BoundPort() const;
    // True once listening; false on set-up failure, Stop or time-out.
    bool WaitListening(int timeoutMs);
    Stats GetStats() const;
    // Changes the body budget (tests use a small one).
    void SetBodyBudget(int64_t bytes) { m_bodyBudget = bytes; }

    // $VELLUMO_PORT when it is a decimal number 1..65535, else kDefaultPort.
    static int DefaultPort();

protected:
    // Called once per complete request on a worker thread, for several connections at once.
    // Non-zero: send response, then close. 0: close without sending anything.
    virtual int OnRequest(std::string head, std::string body, const std::string& peer,
                          std::string& response);
    // Called once per request when its head has arrived and a body is still to come, on the
    // connection's thread. False: the body is received and counted but not kept, and OnRequest
    // gets an empty one. The base class keeps every body.
    virtual bool WantsBody(std::string_view head, const std::string& peer);
    // Unused extension point.
    virtual int ExtraHook(intptr_t first, std::string text, intptr_t second);

    // Only from inside OnRequest, on its thread: the request is answered later through the
    // returned handle, and OnRequest's own response is ignored. When no answer has come after
    // timeoutMs, `fallback` is sent instead. An invalid handle when not called from OnRequest.
    Deferral DeferAnswer(std::string fallback, int timeoutMs);

    // Stops and waits until Run has returned. A derived class whose OnRequest uses its own
    // members calls this first in its destructor.
    void StopAndWait();

private:
    struct Engine;
    enum class RunState { Idle, Starting, Listening, Failed, Finished };

    bool Setup(bool& portInUse);
    void PostAccept();
    void OnAccepted(ConnContext* context, uint64_t generation, const std::error_code& error);
    void StartReceive(ConnContext* context);
    void OnReceived(ConnContext* context, uint64_t generation, const std::error_code& error,
                    size_t bytes);
    // Takes the announced body length from the budget; false when it does not fit.
    bool ReserveBody(ConnContext* context);
    void Dispatch(ConnContext* context);
    void SendMore(ConnContext* context);
    void SendDeferred(ConnContext* context, uint64_t generation, std::string response);
    void OnSent(ConnContext* context, uint64_t generation, const std::error_code& error,
                size_t bytes);
    void CloseConnection(ConnContext* context);
    void Reap();
    void Shutdown();
    void FinishRun(RunState state);

    const int m_port;
    // The engine (event loop) outlives the pool: sockets in the contexts belong to it.
    std::unique_ptr<Engine> m_engine;
    CHMemPool m_pool;
    // Lets deferred answers find the server while it runs; cleared when it shuts down.
    std::shared_ptr<Life> m_life;

    // Contexts with a connection open; read by the reaper.
    mutable std::mutex m_pendingLock;
    std::vector<ConnContext*> m_pending;

    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_boundPort{0};
    std::atomic<size_t> m_acceptsOutstanding{0};
    std::atomic<size_t> m_acceptDeficit{0};
    std::atomic<size_t> m_accepted{0};
    std::atomic<int64_t> m_bodyBudget{kDefaultBodyBudget};
    std::atomic<int64_t> m_bodyBytesHeld{0};

    mutable std::mutex m_runLock;
    std::condition_variable m_runCv;
    RunState m_runState = RunState::Idle;
};
