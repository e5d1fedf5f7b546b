#include "httpclient/CHttpAgent.h"

#include "httpclient/CHChunkDecoder.h"
#include "platform/FileSystem.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMinBatch = 64 * 1024;

// Name resolution cannot be interrupted, so it runs on its own thread; the agent waits for it
// with its time-out and its cancel signal, and an abandoned look-up finishes on its own.
struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
    in_addr address{};
};

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

// No control characters at all (CR, LF and NUL included); blanks only when allowed.
bool IsCleanText(std::string_view text, bool allowBlank, bool allowTab) {
    for (unsigned char c : text) {
        if (c == ' ' && !allowBlank) {
            return false;
        }
        if (c == '\t' && allowTab) {
            continue;
        }
        if (IsControl(c)) {
            return false;
        }
    }
    return true;
}

bool IsValidHost(const std::string& host, int port) {
    return !host.empty() && IsCleanText(host, false, false) && port > 0 && port <= 65535;
}

int MillisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
        return 0;
    }
    return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

// Large bodies fill fresh memory, whose page faults cost more than the copying.
void AdviseLargePages(std::string& text) {
    constexpr uintptr_t kHuge = 2 * 1024 * 1024;
    if (text.capacity() < 2 * kHuge) {
        return;
    }
    uintptr_t begin = (reinterpret_cast<uintptr_t>(text.data()) + kHuge - 1) & ~(kHuge - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(text.data()) + text.capacity()) & ~(kHuge - 1);
    if (end > begin) {
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
}

} // namespace

CHttpAgent::CHttpAgent() {
    m_cancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CHttpAgent::~CHttpAgent() {
    Close();
    if (m_cancelFd >= 0) {
        ::close(m_cancelFd);
    }
}

void CHttpAgent::Cancel() {
    m_cancelled.store(true);
    if (m_cancelFd >= 0) {
        uint64_t one = 1;
        ssize_t n = ::write(m_cancelFd, &one, sizeof(one));
        (void)n; // a full counter is signalled already
    }
}

void CHttpAgent::Close() {
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
}

void CHttpAgent::Reset() {
    Close();
    m_requestLine.clear();
    m_pending.clear();
    m_pendingOffset = 0;
    m_rawHead.clear();
    m_headReceived = false;
    m_requestHeaders.clear();
    m_head = ResponseHead();
}

void CHttpAgent::SetTimeout(int seconds) {
    m_timeoutSeconds = seconds < 1 ? 1 : seconds;
}

bool CHttpAgent::SetBlockSize(int bytes) {
    if (bytes < 1 || bytes > kMaxBlockSize) {
        return false;
    }
    m_blockSize = bytes;
    return true;
}

bool CHttpAgent::Open(const std::string& host, int port, const std::string& method,
                      const std::string& path, const std::string& version) {
    Reset();
    if (!IsValidHost(host, port) || method.empty() || path.empty() || version.empty() ||
        !IsCleanText(method, false, false) || !IsCleanText(path, false, false) ||
        !IsCleanText(version, false, false)) {
        return false;
    }
    m_host = host;
    m_port = port;
    m_requestLine = method + " " + path + " " + version;
    return true;
}

bool CHttpAgent::SetHeaderValue(const std::string& name, const std::string& value) {
    if (name.empty() || !IsCleanText(name, false, false) || name.find(':') != std::string::npos ||
        !IsCleanText(value, true, true)) {
        return false;
    }
    m_requestHeaders[name] = value;
    return true;
}

bool CHttpAgent::SetHeader(const std::string& name, const char* format, ...) {
    if (name.empty() || format == nullptr || format[0] == '\0') {
        return false;
    }
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string value;
    if (length >= 0) {
        value.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(value.data(), value.size(), format, again);
        value.resize(static_cast<size_t>(length));
    }
    va_end(again);
    // A "%c" of 0 leaves a NUL inside the value; IsCleanText refuses it.
    return length >= 0 && SetHeaderValue(name, value);
}

bool CHttpAgent::WaitFor(short events) {
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(m_timeoutSeconds);
    for (;;) {
        if (m_cancelled.load()) {
            return false;
        }
        pollfd fds[2] = {{m_socket, events, 0}, {m_cancelFd, POLLIN, 0}};
        int count = m_cancelFd >= 0 ? 2 : 1;
        // Without a cancel descriptor, Cancel is seen between short waits.
        int wait = MillisecondsUntil(deadline);
        if (m_cancelFd < 0 && wait > 50) {
            wait = 50;
        }
        int ready = ::poll(fds, static_cast<nfds_t>(count), wait);
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready > 0) {
            if (count == 2 && fds[1].revents != 0) {
                return false;
            }
            if (fds[0].revents != 0) {
                return true; // readiness, error or hang-up: the next call tells which
            }
        }
        if (Clock::now() >= deadline) {
            return false;
        }
    }
}

bool CHttpAgent::ResolveHost(in_addr& out) {
    unsigned char first = static_cast<unsigned char>(m_host[0]);
    bool isName = (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z');
    if (!isName) {
        return ::inet_pton(AF_INET, m_host.c_str(), &out) == 1;
    }
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host = m_host] {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* list = nullptr;
            int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
            std::lock_guard<std::mutex> guard(lookup->lock);
            if (rc == 0 && list != nullptr && list->ai_family == AF_INET) {
                lookup->address = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr;
                lookup->found = true;
            }
            if (list != nullptr) {
                ::freeaddrinfo(list);
            }
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (...) {
        return false;
    }
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(m_timeoutSeconds);
    std::unique_lock<std::mutex> guard(lookup->lock);
    while (!lookup->finished && !m_cancelled.load() && Clock::now() < deadline) {
        lookup->done.wait_for(guard, std::chrono::milliseconds(50));
    }
    if (!lookup->found || m_cancelled.load()) {
        return false;
    }
    out = lookup->address;
    return true;
}

bool CHttpAgent::Connect() {
    Close();
    if (m_cancelled.load() || !IsValidHost(m_host, m_port)) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(m_port));
    if (!ResolveHost(address.sin_addr)) {
        return false;
    }

    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        return false;
    }
    // Head and body go out in separate sends; without this the body may wait for a delayed
    // acknowledgement.
    int on = 1;
    ::setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    int rc = ::connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    if (rc != 0 && errno != EINPROGRESS && errno != EINTR) {
        Close();
        return false;
    }
    if (rc != 0) {
        int error = 0;
        socklen_t size = sizeof(error);
        if (!WaitFor(POLLOUT) || ::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0 ||
            error != 0) {
            Close();
            return false;
        }
    }
    return true;
}

bool CHttpAgent::SendAll(const char* data, size_t length) {
    if (m_socket < 0) {
        return false;
    }
    while (length > 0) {
        if (m_cancelled.load()) {
            return false;
        }
        ssize_t n = ::send(m_socket, data, length, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(POLLOUT)) {
            continue;
        }
        return false;
    }
    return true;
}

long CHttpAgent::ReceiveSome(char* buffer, size_t capacity) {
    if (m_socket < 0) {
        return -1;
    }
    for (;;) {
        if (m_cancelled.load()) {
            return -1;
        }
        ssize_t n = ::recv(m_socket, buffer, capacity, 0);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitFor(POLLIN)) {
            return -1;
        }
    }
}

bool CHttpAgent::SendRaw(const std::string& host, int port, std::string_view bytes) {
    Reset();
    if (!IsValidHost(host, port)) {
        return false;
    }
    m_host = host;
    m_port = port;
    return Connect() && SendAll(bytes.data(), bytes.size());
}

bool CHttpAgent::SendHead() {
    if (m_requestLine.empty() || !Connect()) {
        return false;
    }
    std::string head = m_requestLine + "\r\n";
    for (const auto& [name, value] : m_requestHeaders) {
        head += name;
        head += ": ";
        head += value;
        head += "\r\n";
    }
    head += "\r\n";
    return SendAll(head.data(), head.size());
}

bool CHttpAgent::SendBody(const void* bytes, size_t length) {
    if (m_socket < 0 || (bytes == nullptr && length > 0)) {
        return false;
    }
    return SendAll(static_cast<const char*>(bytes), length);
}

bool CHttpAgent::ReceiveHead() {
    if (m_headReceived || m_socket < 0) {
        return false;
    }
    std::string received;
    char block[4096];
    for (;;) {
        size_t searchFrom = received.size() < 3 ? 0 : received.size() - 3;
        long n = ReceiveSome(block, sizeof(block));
        if (n <= 0) {
            return false;
        }
        received.append(block, static_cast<size_t>(n));
        size_t end = received.find("\r\n\r\n", searchFrom);
        if (end != std::string::npos && end + 4 <= kMaxHeadBytes) {
            m_rawHead = received.substr(0, end + 4);
            m_pending = received.substr(end + 4);
            m_pendingOffset = 0;
            m_headReceived = true;
            m_head = ResponseHead::Parse(m_rawHead);
            return true;
        }
        if (received.size() >= kMaxHeadBytes) {
            return false; // no complete head within the bound
        }
    }
}

int CHttpAgent::GetStatusCode() const {
    return m_head.StatusCode();
}

int64_t CHttpAgent::GetContentLength() const {
    return m_head.ContentLength();
}

bool CHttpAgent::GetRawHead(std::string& out) const {
    out = m_rawHead;
    return !out.empty();
}

std::string CHttpAgent::GetHeader(const std::string& name) const {
    return m_head.Header(name);
}

CHttpAgent::BodyKind CHttpAgent::Framing() const {
    if (GetContentLength() > 0) {
        return BodyKind::Length;
    }
    if (LowerAscii(GetHeader("transfer-encoding")) == "chunked") {
        return BodyKind::Chunked;
    }
    return BodyKind::None;
}

CHttpAgent::Block CHttpAgent::NextBlock(size_t limit, size_t readSize) {
    Block block;
    if (limit == 0) {
        return block;
    }
    if (m_pendingOffset < m_pending.size()) {
        size_t length = m_pending.size() - m_pendingOffset;
        block.data = m_pending.data() + m_pendingOffset;
        block.length = length < limit ? length : limit;
        // Bytes beyond what the caller may take are dropped, never kept for later.
        m_pendingOffset = m_pending.size();
        return block;
    }
    if (readSize == 0) {
        readSize = static_cast<size_t>(m_blockSize);
    }
    if (m_bufferSize != readSize) {
        m_buffer = std::make_unique<char[]>(readSize);
        m_bufferSize = readSize;
    }
    size_t capacity = m_bufferSize < limit ? m_bufferSize : limit;
    long n = ReceiveSome(m_buffer.get(), capacity);
    if (n > 0) {
        block.data = m_buffer.get();
        block.length = static_cast<size_t>(n);
    }
    return block;
}

size_t CHttpAgent::BatchSize() const {
    return static_cast<size_t>(m_blockSize) > kMinBatch ? static_cast<size_t>(m_blockSize)
                                                        : kMinBatch;
}

bool CHttpAgent::ReceiveBody(std::string& out) {
    out.clear();
    if (!m_headReceived) {
        return false;
    }
    try {
        switch (Framing()) {
        case BodyKind::Length:
            return ReceiveCounted(out);
        case BodyKind::Chunked:
            return ReceiveChunked(out);
        case BodyKind::None:
            break;
        }
    } catch (const std::bad_alloc&) {
        out.clear(); // a body within the limit that memory cannot hold: a failure, not a throw
    }
    return false;
}

bool CHttpAgent::ReceiveCounted(std::string& out) {
    int64_t total = GetContentLength();
    if (static_cast<uint64_t>(total) > m_bodyLimit) {
        return false;
    }
    size_t want = static_cast<size_t>(total);
    out.reserve(want);
    while (out.size() < want) {
        Block block = NextBlock(want - out.size(), BatchSize());
        if (block.length == 0) {
            return false;
        }
        out.append(block.data, block.length);
    }
    return !out.empty();
}

bool CHttpAgent::ReceiveChunked(std::string& out) {
    CHChunkDecoder decoder(m_bodyLimit);
    for (;;) {
        Block block = NextBlock(SIZE_MAX, BatchSize());
        if (block.length == 0) {
            return false; // the connection stopped before the last chunk
        }
        // Growing four-fold (within the limit) copies the body fewer times than the string's
        // own doubling; fresh memory is what large bodies cost most.
        if (out.capacity() - out.size() < block.length && out.capacity() < m_bodyLimit) {
            size_t grown = out.capacity() * 4 < m_bodyLimit ? out.capacity() * 4 : m_bodyLimit;
            out.reserve(grown > out.size() + block.length ? grown : out.size() + block.length);
            AdviseLargePages(out);
        }
        switch (decoder.Feed(std::string_view(block.data, block.length), out)) {
        case CHChunkDecoder::State::NeedMore:
            break;
        case CHChunkDecoder::State::Done:
            return !out.empty();
        case CHChunkDecoder::State::Failed:
            return false;
        }
    }
}

bool CHttpAgent::ReceiveBlocks(const ProgressCallback& callback, void* user,
                               const std::function<bool(const char*, size_t)>& sink) {
    const int64_t total = GetContentLength();
    int64_t received = 0;
    int speed = 0;
    Clock::time_point lastTick = Clock::now();
    int64_t sinceTick = 0;
    bool written = true;
    // Reads and writes go in batches of at least kMinBatch bytes (a 4 KiB block per system
    // call is slow for large downloads); the callback still sees blocks of the block size.
    const size_t batch =
        static_cast<size_t>(m_blockSize) > kMinBatch ? static_cast<size_t>(m_blockSize) : kMinBatch;
    while (received < total) {
        Block read = NextBlock(static_cast<size_t>(total - received), batch);
        if (read.length == 0) {
            break;
        }
        if (!sink(read.data, read.length)) {
            written = false;
            break;
        }
        if (!callback) {
            received += static_cast<int64_t>(read.length);
            continue;
        }
        for (size_t at = 0; at < read.length; at += static_cast<size_t>(m_blockSize)) {
            size_t length = read.length - at;
            if (length > static_cast<size_t>(m_blockSize)) {
                length = static_cast<size_t>(m_blockSize);
            }
            received += static_cast<int64_t>(length);
            // The speed covers every byte since it was last worked out: at loopback rates
            // many blocks arrive within one millisecond.
            sinceTick += static_cast<int64_t>(length);
            Clock::time_point now = Clock::now();
            int64_t ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - lastTick).count();
            if (ms > 0) {
                int64_t rate = sinceTick * 1000 / ms;
                speed = rate > INT_MAX ? INT_MAX : static_cast<int>(rate);
                lastTick = now;
                sinceTick = 0;
            }
            int percent = static_cast<int>(received * 100 / total);
            if (callback(percent, speed, read.data + at, static_cast<int>(length), received, total,
                         user) == 0) {
                return false;
            }
        }
    }
    if (written && received >= total) {
        return true;
    }
    if (callback) {
        callback(-1, speed, nullptr, 0, received, total, user);
    }
    return false;
}

bool CHttpAgent::DownloadToFile(const fs::path& file, const ProgressCallback& callback,
                                void* user) {
    int64_t total = GetContentLength();
    if (!m_headReceived || total <= 0) {
        return false;
    }
    if (callback && callback(0, 0, nullptr, 0, 0, total, user) == 0) {
        return false;
    }
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = ReceiveBlocks(callback, user, [fd](const char* data, size_t length) {
        return WriteAll(fd, data, length);
    });
    // A full disk or quota may show only when the file is closed.
    if (::close(fd) != 0) {
        ok = false;
    }
    return ok;
}

bool CHttpAgent::ReceiveBodyBlocks(const ProgressCallback& callback, void* user) {
    int64_t total = GetContentLength();
    if (!callback || !m_headReceived || total <= 0) {
        return false;
    }
    if (callback(0, 0, nullptr, 0, 0, total, user) == 0) {
        return false;
    }
    return ReceiveBlocks(callback, user, [](const char*, size_t) { return true; });
}
