#pragma once
// The program's TCP server: listens on every IPv4 interface, reads exactly one request per
// connection, hands it to OnRequest on a worker thread, sends the answer in one piece and
// closes. Connections silent for more than five seconds are closed by a reaper, and so are
// requests whose head takes too long or whose body arrives too slowly.

#include "platform/ServicePort.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
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
    // The whole request head must arrive within this time of the connection being accepted,
    // however steadily its bytes trickle in.
    static constexpr int kHeadDeadlineMs = 10000;
    // After a grace period a body must keep arriving at this average rate (bytes per second,
    // measured from the end of the head): a phone on a poor link manages far more.
    static constexpr int kBodyGraceMs = 5000;
    static constexpr int64_t kMinBodyRate = 2048;
    // Connections open at once from one address whose request has not shown a paired key (and
    // that are not this PC's own user on loopback). Further ones are closed when accepted.
    static constexpr size_t kMaxUnkeyedPerAddress = 32;
    // Request bodies held by all connections together, counted by the bytes actually received.
    // Each may be as large as the framing limit (256 MiB), and 2000 connections of that size
    // would exhaust any PC; a request that does not fit is closed without a response, and the
    // phone sends it again later. One address or one key holds at most half of it.
    static constexpr int64_t kDefaultBodyBudget = int64_t{1} << 30;
    static constexpr int64_t kDefaultBodyShare = kDefaultBodyBudget / 2;
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

    // Who is at the other end of a connection.
    struct Peer {
        std::string address;    // dotted IPv4
        bool localUser = false; // a loopback socket owned by the user this process runs as
    };

    // What becomes of a request whose head has arrived while its body is still to come.
    struct HeadVerdict {
        enum class Body {
            Keep,   // receive and keep it
            Drop,   // receive and count it, hand OnRequest an empty body
            Answer, // do not wait for it: OnRequest is called at once with an empty body, and
                    // the connection closes after the answer
        };
        Body body = Body::Keep;
        // Whose share of the body budget a kept body is charged to besides its address (the
        // device key); empty: the address only. A non-empty owner also lifts the connection
        // out of its address's count of connections without a key.
        std::string owner;
    };

    // The user (uid) owning the TCP socket with these two ends, or -1 when it is unknown.
    // Addresses and ports in host byte order.
    using SocketOwnerFn = std::function<int64_t(uint32_t clientAddress, uint16_t clientPort,
                                                uint32_t serverAddress, uint16_t serverPort)>;

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
    // Changes the body budget and the share of one address or key (tests use small ones).
    void SetBodyBudget(int64_t bytes) { m_bodyBudget = bytes; }
    void SetBodyShare(int64_t bytes) { m_bodyShare = bytes; }
    // Replaces the kernel socket-table lookup that tells whose a loopback connection is; set
    // before Run.
    void SetSocketOwnerLookup(SocketOwnerFn lookup) { m_socketOwner = std::move(lookup); }
    // The head deadline, body grace period and minimum body rate (tests shorten them).
    void SetRequestDeadlines(int headMs, int bodyGraceMs, int64_t minBodyRate) {
        m_headDeadlineMs = headMs;
        m_bodyGraceMs = bodyGraceMs;
        m_minBodyRate = minBodyRate;
    }
    // Body bytes held now by all connections (tests watch it come back).
    int64_t BodyBytesHeld() const { return m_bodyBytesHeld.load(); }

    // $VELLUMO_PORT when it is a decimal number 1..65535, else kDefaultPort.
    static int DefaultPort();

protected:
    // Called once per complete request on a worker thread, for several connections at once.
    // Non-zero: send response, then close. 0: close without sending anything.
    virtual int OnRequest(std::string head, std::string body, const Peer& peer,
                          std::string& response);
    // Called once per request when its head has arrived and a body is still to come, on the
    // connection's thread. The base class keeps every body and charges it to the address.
    virtual HeadVerdict OnHead(std::string_view head, const Peer& peer);
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
    // Applies OnHead's verdict once the head is in; false when the connection was handed on
    // or closed.
    bool DecideBody(ConnContext* context);
    // Charges the body bytes received since the last call; false when a budget is exceeded.
    bool ChargeBody(ConnContext* context);
    void ReleaseBody(ConnContext* context);
    // False when the address already has its share of connections without a key.
    bool CountUnkeyed(ConnContext* context);
    void UncountUnkeyed(ConnContext* context);
    // A loopback connection whose socket belongs to the user this process runs as.
    bool IsLocalUser(ConnContext* context) const;
    // A receiving connection past its head deadline or below the body rate.
    bool IsOverdue(const ConnContext* context, int64_t nowMs) const;
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
    std::atomic<int64_t> m_bodyShare{kDefaultBodyShare};
    std::atomic<int> m_headDeadlineMs{kHeadDeadlineMs};
    std::atomic<int> m_bodyGraceMs{kBodyGraceMs};
    std::atomic<int64_t> m_minBodyRate{kMinBodyRate};
    std::atomic<int64_t> m_bodyBytesHeld{0};
    SocketOwnerFn m_socketOwner;

    // Body bytes held per address and per key, and connections without a key per address.
    std::mutex m_shareLock;
    std::map<std::string, int64_t, std::less<>> m_heldByAddress;
    std::map<std::string, int64_t, std::less<>> m_heldByOwner;
    std::map<std::string, size_t, std::less<>> m_unkeyedByAddress;

    mutable std::mutex m_runLock;
    std::condition_variable m_runCv;
    RunState m_runState = RunState::Idle;
};
