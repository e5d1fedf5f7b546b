#include "net/CHServer.h"

#include "net/HttpFramer.h"
#include "net/SocketOwner.h"
#include "platform/Dialogs.h"
#include "platform/ServicePort.h"

#include <asio.hpp>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using Strand = asio::strand<asio::io_context::executor_type>;

constexpr auto kReaperPass = std::chrono::milliseconds(1000);
// One descriptor per connection, with room to spare for the files the handlers open and for the
// rest of the program.
constexpr rlim_t kWantedDescriptors = 2 * CHServer::kPostedAccepts + 256;
// A context that once carried a large answer gives the memory back when it is reused.
constexpr size_t kKeptResponseCapacity = 64 * 1024;
constexpr uint32_t kLoopbackAddress = 0x7F000001;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Each connection holds a socket, so 2000 of them need more than the usual 1024 descriptors.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= kWantedDescriptors) {
        return;
    }
    limit.rlim_cur = std::min(limit.rlim_max, kWantedDescriptors);
    setrlimit(RLIMIT_NOFILE, &limit);
}

} // namespace

struct CHServer::Life {
    std::mutex lock;
    CHServer* server = nullptr;
};

namespace {
// The connection whose request OnRequest is handling on this thread, for DeferAnswer.
thread_local CHServer::ConnContext* t_dispatching = nullptr;
} // namespace

struct CHServer::ConnContext {
    enum : int {
        kAccepting = 1,
        kReceiving = 2,
        kSending = 3,
        kClosed = 4,
        kHandling = 5,
        kDeferred = 6, // the handler answers later; its timer answers if it does not
    };

    explicit ConnContext(asio::io_context& io) : strand(asio::make_strand(io)), socket(strand) {}

    // Every completion of this connection runs on its strand, and so does the reaper's close:
    // the two can never act on the context at the same time.
    Strand strand;
    asio::ip::tcp::socket socket;
    std::atomic<int> state{kClosed};
    // Bumped when an accept is posted and when the connection closes; completions and reaper
    // checks carry the value they were issued under and drop out when it no longer matches.
    std::atomic<uint64_t> generation{0};
    std::atomic<int64_t> lastActivityMs{0};
    // Read by the reaper: when the connection was accepted, when its head was complete (0
    // before) and how many bytes of its body have arrived since.
    std::atomic<int64_t> acceptedMs{0};
    std::atomic<int64_t> headMs{0};
    std::atomic<int64_t> bodyReceived{0};
    size_t pendingIndex = 0; // position in the pending list, under the pending lock
    Peer peer;
    std::array<char, kReceiveBufferSize> buffer{};
    HttpFramer framer;
    bool bodyChecked = false;    // OnHead was asked for the current request
    bool answerEarly = false;    // answered at its head; the body is not waited for
    bool countedUnkeyed = false; // counted among its address's connections without a key
    std::string bodyOwner;       // key whose share the kept body is charged to
    int64_t bodyCharged = 0;     // body bytes charged to the budgets
    std::string response;
    size_t sent = 0;
    asio::steady_timer deferTimer{strand};
};

struct CHServer::Engine {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor{io};
    // The acceptor is not safe for concurrent calls: accepts are posted through this strand.
    Strand acceptStrand{asio::make_strand(io)};
    std::vector<std::thread> workers;
};

CHServer::CHMemPool::~CHMemPool() = default;

CHServer::ConnContext* CHServer::CHMemPool::Acquire() {
    std::lock_guard lock(m_lock);
    if (m_free.empty()) {
        return nullptr;
    }
    ConnContext* context = m_free.front();
    m_free.pop_front();
    return context;
}

CHServer::ConnContext* CHServer::CHMemPool::Adopt(std::unique_ptr<ConnContext> context) {
    std::lock_guard lock(m_lock);
    m_all.push_back(std::move(context));
    return m_all.back().get();
}

void CHServer::CHMemPool::Recycle(ConnContext* context) {
    std::lock_guard lock(m_lock);
    m_free.push_back(context);
}

size_t CHServer::CHMemPool::Allocated() const {
    std::lock_guard lock(m_lock);
    return m_all.size();
}

size_t CHServer::CHMemPool::Free() const {
    std::lock_guard lock(m_lock);
    return m_free.size();
}

CHServer::CHServer() : CHServer(DefaultPort()) {}

CHServer::CHServer(int port)
    : m_port(port), m_engine(std::make_unique<Engine>()), m_life(std::make_shared<Life>()) {
    m_life->server = this;
}

CHServer::~CHServer() {
    StopAndWait();
}

int CHServer::DefaultPort() {
    return ServicePort();
}

int CHServer::OnRequest(std::string, std::string, const Peer&, std::string& response) {
    response.clear();
    return 1;
}

CHServer::HeadVerdict CHServer::OnHead(std::string_view, const Peer&) {
    return {};
}

int CHServer::ExtraHook(intptr_t, std::string, intptr_t) {
    return 0;
}

int CHServer::BoundPort() const {
    return m_boundPort.load();
}

bool CHServer::WaitListening(int timeoutMs) {
    std::unique_lock lock(m_runLock);
    m_runCv.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), [this] {
        return m_stopping.load() || m_runState == RunState::Listening ||
               m_runState == RunState::Failed || m_runState == RunState::Finished;
    });
    return m_runState == RunState::Listening && !m_stopping.load();
}

CHServer::Stats CHServer::GetStats() const {
    Stats stats;
    stats.contexts = m_pool.Allocated();
    {
        std::lock_guard lock(m_pendingLock);
        stats.connections = m_pending.size();
    }
    stats.accepts = m_acceptsOutstanding.load();
    stats.accepted = m_accepted.load();
    return stats;
}

void CHServer::Stop() {
    {
        std::lock_guard lock(m_runLock);
        m_stopping = true;
    }
    m_runCv.notify_all();
}

void CHServer::StopAndWait() {
    Stop();
    std::unique_lock lock(m_runLock);
    m_runCv.wait(lock, [this] {
        return m_runState != RunState::Starting && m_runState != RunState::Listening;
    });
}

void CHServer::FinishRun(RunState state) {
    {
        std::lock_guard lock(m_runLock);
        m_runState = state;
    }
    m_runCv.notify_all();
}

bool CHServer::Setup(bool& portInUse) {
    portInUse = false;
    if (m_port < 0 || m_port > 65535) {
        return false;
    }
    RaiseDescriptorLimit();
    asio::ip::tcp::acceptor& acceptor = m_engine->acceptor;
    asio::error_code error;
    acceptor.open(asio::ip::tcp::v4(), error);
    if (error) {
        return false;
    }
    // A restart must not trip over connections of the previous run still in TIME_WAIT. On this
    // platform it does not let two listeners share the port.
    acceptor.set_option(asio::socket_base::reuse_address(true), error);
    if (!error) {
        acceptor.bind({asio::ip::address_v4::any(), static_cast<unsigned short>(m_port)}, error);
        if (error) {
            portInUse = true;
        }
    }
    if (!error) {
        acceptor.listen(kBacklog, error);
    }
    asio::ip::tcp::endpoint local;
    if (!error) {
        local = acceptor.local_endpoint(error);
    }
    if (error) {
        asio::error_code ignored;
        acceptor.close(ignored);
        return false;
    }
    m_boundPort = local.port();
    return true;
}

int CHServer::Run() {
    {
        std::lock_guard lock(m_runLock);
        if (m_runState != RunState::Idle) {
            return 0;
        }
        m_runState = m_stopping ? RunState::Finished : RunState::Starting;
    }
    m_runCv.notify_all();
    if (m_stopping) {
        return 0;
    }

    bool portInUse = false;
    if (!Setup(portInUse)) {
        if (portInUse) {
            ShowMessage(kPortInUseTitle, kPortInUseText);
        }
        FinishRun(RunState::Failed);
        return 0;
    }

    for (int i = 0; i < kPostedAccepts; ++i) {
        PostAccept();
    }
    unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    auto work = asio::make_work_guard(m_engine->io);
    try {
        for (unsigned i = 0; i < 2 * processors; ++i) {
            m_engine->workers.emplace_back([this] {
                // Nothing that throws may take the process down; the connection concerned is
                // left to the reaper.
                for (;;) {
                    try {
                        m_engine->io.run();
                        return;
                    } catch (...) {
                    }
                }
            });
        }
    } catch (const std::system_error&) {
        // Fewer threads than wanted still serve; none cannot.
        if (m_engine->workers.empty()) {
            Shutdown();
            FinishRun(RunState::Failed);
            return 0;
        }
    }

    {
        std::unique_lock lock(m_runLock);
        m_runState = RunState::Listening;
        m_runCv.notify_all();
        while (!m_runCv.wait_for(lock, kReaperPass, [this] { return m_stopping.load(); })) {
            lock.unlock();
            Reap();
            lock.lock();
        }
    }

    work.reset();
    Shutdown();
    FinishRun(RunState::Finished);
    return 1;
}

void CHServer::Shutdown() {
    {
        // Deferred answers arriving from now on go nowhere.
        std::lock_guard lock(m_life->lock);
        m_life->server = nullptr;
    }
    m_engine->io.stop();
    for (std::thread& worker : m_engine->workers) {
        worker.join();
    }
    m_engine->workers.clear();
    // No handler runs any more: sockets can be closed from here.
    asio::error_code ignored;
    m_engine->acceptor.close(ignored);
    {
        std::lock_guard lock(m_pendingLock);
        for (ConnContext* context : m_pending) {
            context->socket.close(ignored);
            context->state = ConnContext::kClosed;
        }
        m_pending.clear();
    }
    m_boundPort = 0;
}

void CHServer::PostAccept() {
    asio::post(m_engine->acceptStrand, [this] {
        if (m_stopping) {
            return;
        }
        ConnContext* context = m_pool.Acquire();
        if (context == nullptr) {
            context = m_pool.Adopt(std::make_unique<ConnContext>(m_engine->io));
        }
        uint64_t generation = ++context->generation;
        context->state = ConnContext::kAccepting;
        ++m_acceptsOutstanding;
        m_engine->acceptor.async_accept(
            context->socket,
            asio::bind_executor(context->strand,
                                [this, context, generation](const asio::error_code& error) {
                                    OnAccepted(context, generation, error);
                                }));
    });
}

void CHServer::OnAccepted(ConnContext* context, uint64_t generation, const std::error_code& error) {
    --m_acceptsOutstanding;
    if (context->generation != generation) {
        return;
    }
    if (!error) {
        ++m_accepted;
    }
    asio::error_code peerError;
    asio::ip::tcp::endpoint peer;
    if (!error) {
        peer = context->socket.remote_endpoint(peerError);
    }
    if (error || peerError || m_stopping) {
        asio::error_code ignored;
        context->socket.close(ignored);
        ++context->generation;
        context->state = ConnContext::kClosed;
        m_pool.Recycle(context);
        if (m_stopping || error == asio::error::operation_aborted) {
            return;
        }
        if (error) {
            // Out of descriptors and the like: the reaper posts the accept again on its next
            // pass instead of spinning here.
            ++m_acceptDeficit;
        } else {
            PostAccept(); // the peer was gone before it could be served
        }
        return;
    }
    context->peer.address =
        peer.address().is_v4() ? peer.address().to_v4().to_string() : std::string();
    context->framer.Reset();
    context->bodyChecked = false;
    context->answerEarly = false;
    context->bodyOwner.clear();
    context->bodyCharged = 0;
    context->sent = 0;
    const int64_t now = NowMs();
    context->lastActivityMs = now;
    context->acceptedMs = now;
    context->headMs = 0;
    context->bodyReceived = 0;
    context->state = ConnContext::kReceiving;
    {
        std::lock_guard lock(m_pendingLock);
        context->pendingIndex = m_pending.size();
        m_pending.push_back(context);
    }
    context->peer.localUser = IsLocalUser(context);
    if (!CountUnkeyed(context)) {
        CloseConnection(context);
        return;
    }
    StartReceive(context);
}

bool CHServer::IsLocalUser(ConnContext* context) const {
    asio::error_code error;
    const asio::ip::tcp::endpoint remote = context->socket.remote_endpoint(error);
    if (error || !remote.address().is_v4() ||
        remote.address().to_v4().to_uint() != kLoopbackAddress) {
        return false;
    }
    const asio::ip::tcp::endpoint local = context->socket.local_endpoint(error);
    if (error || !local.address().is_v4()) {
        return false;
    }
    const uint32_t serverAddress = local.address().to_v4().to_uint();
    const int64_t owner =
        m_socketOwner
            ? m_socketOwner(kLoopbackAddress, remote.port(), serverAddress, local.port())
            : TcpSocketOwner(kLoopbackAddress, remote.port(), serverAddress, local.port());
    return owner >= 0 && owner == static_cast<int64_t>(::geteuid());
}

bool CHServer::CountUnkeyed(ConnContext* context) {
    if (context->peer.localUser) {
        return true;
    }
    std::lock_guard lock(m_shareLock);
    size_t& open = m_unkeyedByAddress[context->peer.address];
    if (open >= kMaxUnkeyedPerAddress) {
        return false;
    }
    ++open;
    context->countedUnkeyed = true;
    return true;
}

void CHServer::UncountUnkeyed(ConnContext* context) {
    if (!context->countedUnkeyed) {
        return;
    }
    context->countedUnkeyed = false;
    std::lock_guard lock(m_shareLock);
    auto it = m_unkeyedByAddress.find(context->peer.address);
    if (it != m_unkeyedByAddress.end() && --it->second == 0) {
        m_unkeyedByAddress.erase(it);
    }
}

void CHServer::StartReceive(ConnContext* context) {
    uint64_t generation = context->generation;
    context->socket.async_read_some(
        asio::buffer(context->buffer),
        [this, context, generation](const asio::error_code& error, size_t bytes) {
            OnReceived(context, generation, error, bytes);
        });
}

void CHServer::OnReceived(ConnContext* context, uint64_t generation, const std::error_code& error,
                          size_t bytes) {
    if (context->generation != generation || context->state != ConnContext::kReceiving) {
        return;
    }
    if (error || bytes == 0) {
        CloseConnection(context);
        return;
    }
    const int64_t now = NowMs();
    context->lastActivityMs = now;
    const HttpFramer::State state =
        context->framer.Feed(std::string_view(context->buffer.data(), bytes));
    if (state == HttpFramer::State::Rejected) {
        CloseConnection(context);
        return;
    }
    if (context->headMs == 0 && !context->framer.ReceivedHead().empty()) {
        context->headMs = now;
    }
    context->bodyReceived = static_cast<int64_t>(context->framer.BodyReceived());
    if (state == HttpFramer::State::Complete) {
        // A body that came whole with its head was never charged; it is, for as long as it is
        // handled.
        if (ChargeBody(context)) {
            Dispatch(context);
        } else {
            CloseConnection(context);
        }
        return;
    }
    if (!context->framer.ReceivedHead().empty() && !context->bodyChecked && !DecideBody(context)) {
        return;
    }
    if (!ChargeBody(context)) {
        CloseConnection(context);
        return;
    }
    StartReceive(context);
}

bool CHServer::DecideBody(ConnContext* context) {
    context->bodyChecked = true;
    HeadVerdict verdict;
    try {
        verdict = OnHead(context->framer.ReceivedHead(), context->peer);
    } catch (...) {
        verdict.body = HeadVerdict::Body::Drop;
        verdict.owner.clear();
    }
    if (!verdict.owner.empty()) {
        context->bodyOwner = std::move(verdict.owner);
        UncountUnkeyed(context);
    }
    switch (verdict.body) {
    case HeadVerdict::Body::Keep:
        return true;
    case HeadVerdict::Body::Drop:
        context->framer.DropBody();
        return true;
    case HeadVerdict::Body::Answer:
        context->answerEarly = true;
        Dispatch(context);
        return false;
    }
    return true;
}

bool CHServer::ChargeBody(ConnContext* context) {
    const int64_t kept =
        context->framer.BodyDropped() ? 0 : static_cast<int64_t>(context->framer.BodyKept());
    const int64_t delta = kept - context->bodyCharged;
    if (delta <= 0) {
        return true;
    }
    const int64_t share = m_bodyShare.load();
    std::lock_guard lock(m_shareLock);
    int64_t& byAddress = m_heldByAddress[context->peer.address];
    int64_t* byOwner = context->bodyOwner.empty() ? nullptr : &m_heldByOwner[context->bodyOwner];
    if (m_bodyBytesHeld.load() + delta > m_bodyBudget.load() || byAddress + delta > share ||
        (byOwner != nullptr && *byOwner + delta > share)) {
        if (byAddress == 0) {
            m_heldByAddress.erase(context->peer.address);
        }
        if (byOwner != nullptr && *byOwner == 0) {
            m_heldByOwner.erase(context->bodyOwner);
        }
        return false;
    }
    m_bodyBytesHeld += delta;
    byAddress += delta;
    if (byOwner != nullptr) {
        *byOwner += delta;
    }
    context->bodyCharged = kept;
    return true;
}

void CHServer::ReleaseBody(ConnContext* context) {
    if (context->bodyCharged == 0) {
        return;
    }
    std::lock_guard lock(m_shareLock);
    m_bodyBytesHeld -= context->bodyCharged;
    auto byAddress = m_heldByAddress.find(context->peer.address);
    if (byAddress != m_heldByAddress.end() && (byAddress->second -= context->bodyCharged) <= 0) {
        m_heldByAddress.erase(byAddress);
    }
    auto byOwner = m_heldByOwner.find(context->bodyOwner);
    if (!context->bodyOwner.empty() && byOwner != m_heldByOwner.end() &&
        (byOwner->second -= context->bodyCharged) <= 0) {
        m_heldByOwner.erase(byOwner);
    }
    context->bodyCharged = 0;
}

void CHServer::Dispatch(ConnContext* context) {
    context->state = ConnContext::kHandling;
    std::string head;
    std::string body;
    if (context->answerEarly) {
        head = std::string(context->framer.ReceivedHead());
        context->framer.Reset();
    } else {
        context->framer.Take(head, body);
    }
    std::string response;
    int result = 0;
    t_dispatching = context;
    try {
        result = OnRequest(std::move(head), std::move(body), context->peer, response);
    } catch (...) {
        result = 0;
    }
    t_dispatching = nullptr;
    if (context->state == ConnContext::kDeferred) {
        // The body has been handled; waiting for the answer holds no part of the budget.
        ReleaseBody(context);
        return;
    }
    if (result == 0 || response.empty()) {
        CloseConnection(context);
        return;
    }
    context->response = std::move(response);
    context->sent = 0;
    context->lastActivityMs = NowMs();
    context->state = ConnContext::kSending;
    SendMore(context);
}

CHServer::Deferral CHServer::DeferAnswer(std::string fallback, int timeoutMs) {
    ConnContext* context = t_dispatching;
    Deferral deferral;
    if (context == nullptr || context->state != ConnContext::kHandling) {
        return deferral;
    }
    context->state = ConnContext::kDeferred;
    deferral.m_life = m_life;
    deferral.m_context = context;
    deferral.m_generation = context->generation;
    const uint64_t generation = context->generation;
    // Runs on the connection's strand like every other completion of it.
    context->deferTimer.expires_after(std::chrono::milliseconds(std::max(timeoutMs, 0)));
    context->deferTimer.async_wait(
        [this, context, generation, fallback = std::move(fallback)](const asio::error_code& error) {
            if (!error) {
                SendDeferred(context, generation, fallback);
            }
        });
    return deferral;
}

bool CHServer::Deferral::Send(std::string response) const {
    if (m_context == nullptr || !m_life) {
        return false;
    }
    std::lock_guard lock(m_life->lock);
    CHServer* server = m_life->server;
    if (server == nullptr) {
        return false;
    }
    ConnContext* context = m_context;
    uint64_t generation = m_generation;
    asio::post(context->strand, [server, context, generation, text = std::move(response)] {
        server->SendDeferred(context, generation, text);
    });
    return true;
}

void CHServer::SendDeferred(ConnContext* context, uint64_t generation, std::string response) {
    if (context->generation != generation || context->state != ConnContext::kDeferred) {
        return; // answered already, or the connection is gone
    }
    context->deferTimer.cancel();
    if (response.empty()) {
        CloseConnection(context);
        return;
    }
    context->response = std::move(response);
    context->sent = 0;
    context->lastActivityMs = NowMs();
    context->state = ConnContext::kSending;
    SendMore(context);
}

void CHServer::SendMore(ConnContext* context) {
    uint64_t generation = context->generation;
    context->socket.async_write_some(
        asio::buffer(context->response.data() + context->sent,
                     context->response.size() - context->sent),
        [this, context, generation](const asio::error_code& error, size_t bytes) {
            OnSent(context, generation, error, bytes);
        });
}

void CHServer::OnSent(ConnContext* context, uint64_t generation, const std::error_code& error,
                      size_t bytes) {
    if (context->generation != generation || context->state != ConnContext::kSending) {
        return;
    }
    if (error || bytes == 0) {
        CloseConnection(context);
        return;
    }
    // Progress counts as activity: only a stalled send is reaped.
    context->lastActivityMs = NowMs();
    context->sent += bytes;
    if (context->sent < context->response.size()) {
        SendMore(context);
        return;
    }
    CloseConnection(context);
}

void CHServer::CloseConnection(ConnContext* context) {
    int state = context->state;
    if (state == ConnContext::kClosed || state == ConnContext::kAccepting) {
        return;
    }
    {
        std::lock_guard lock(m_pendingLock);
        size_t index = context->pendingIndex;
        if (index < m_pending.size() && m_pending[index] == context) {
            m_pending[index] = m_pending.back();
            m_pending[index]->pendingIndex = index;
            m_pending.pop_back();
        }
    }
    asio::error_code ignored;
    context->socket.close(ignored);
    context->deferTimer.cancel();
    ++context->generation;
    context->state = ConnContext::kClosed;
    ReleaseBody(context);
    UncountUnkeyed(context);
    context->bodyOwner.clear();
    context->framer.Reset();
    if (context->response.capacity() > kKeptResponseCapacity) {
        context->response = std::string();
    } else {
        context->response.clear();
    }
    context->peer = Peer();
    // The context belongs to the pool from here on; it is not touched again.
    m_pool.Recycle(context);
    PostAccept();
}

bool CHServer::IsOverdue(const ConnContext* context, int64_t nowMs) const {
    const int state = context->state;
    if (state != ConnContext::kReceiving && state != ConnContext::kSending) {
        return false;
    }
    if (nowMs - context->lastActivityMs > kIdleTimeoutMs) {
        return true;
    }
    if (state != ConnContext::kReceiving) {
        return false;
    }
    const int64_t headMs = context->headMs;
    if (headMs == 0) {
        return nowMs - context->acceptedMs > m_headDeadlineMs;
    }
    const int64_t sinceHead = nowMs - headMs - m_bodyGraceMs;
    return sinceHead > 0 && context->bodyReceived < sinceHead * m_minBodyRate / 1000;
}

void CHServer::Reap() {
    int64_t now = NowMs();
    std::vector<std::pair<ConnContext*, uint64_t>> silent;
    {
        std::lock_guard lock(m_pendingLock);
        for (ConnContext* context : m_pending) {
            if (IsOverdue(context, now)) {
                silent.emplace_back(context, context->generation.load());
            }
        }
    }
    for (const auto& entry : silent) {
        ConnContext* context = entry.first;
        uint64_t generation = entry.second;
        // Decided again on the connection's strand, where nothing else can act on it.
        asio::post(context->strand, [this, context, generation] {
            if (context->generation == generation && IsOverdue(context, NowMs())) {
                CloseConnection(context);
            }
        });
    }
    for (size_t missing = m_acceptDeficit.exchange(0); missing > 0; --missing) {
        PostAccept();
    }
}
