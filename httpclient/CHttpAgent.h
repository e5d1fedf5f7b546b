#pragma once
// A small blocking HTTP/1.x client: one request at a time over one TCP connection, no
// redirects, proxies, TLS, connection reuse or retries. Used by Vellumo's update check and by
// Fernlift's update query and package download.
//
// Calling order: Open -> SetHeader* -> SendHead -> [SendBody] -> ReceiveHead -> one of
// ReceiveBody / DownloadToFile / ReceiveBodyBlocks -> getters. A new Open (or SendRaw) starts
// over on a fresh connection. Every operation reports failure by its result and never throws.
//
// Waits are poll(2) with the time-out (default 20 s) applied to every wait, including connect
// and name resolution. Cancel, from any other thread, ends any wait within 100 ms; a cancelled
// agent stays cancelled (every later operation fails) until it is destroyed.

#include "httpclient/ResponseHead.h"

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

class CHttpAgent {
public:
    // Called by DownloadToFile and ReceiveBodyBlocks: first with percent 0 and no block before
    // any body byte, then once per block received (at most the block size; percent =
    // received * 100 / total), and once more with percent -1 when the body ended short or a
    // write failed. Returns non-zero to go on, 0 to abort.
    using ProgressCallback =
        std::function<int(int percent, int bytesPerSecond, const char* block, int blockLength,
                          int64_t received, int64_t total, void* user)>;

    static constexpr int kDefaultTimeoutSeconds = 20;
    static constexpr int kDefaultBlockSize = 4096;
    static constexpr int kMaxBlockSize = 2 * 1024 * 1024;
    // The response head, up to and including its empty line.
    static constexpr size_t kMaxHeadBytes = 64 * 1024;
    // Default bound of ReceiveBody; callers expecting JSON keep it.
    static constexpr size_t kDefaultBodyLimit = 1024 * 1024;

    CHttpAgent();
    ~CHttpAgent(); // closes the connection
    CHttpAgent(const CHttpAgent&) = delete;
    CHttpAgent& operator=(const CHttpAgent&) = delete;

    // Resets, connects and sends the bytes exactly as given; the answer is then read with
    // ReceiveHead and the body operations.
    bool SendRaw(const std::string& host, int port, std::string_view bytes);
    // Resets and stores the request; connecting happens in SendHead. The host is a name
    // (starting with a letter, resolved to IPv4) or a dotted IPv4 address. False when a part is
    // empty or holds CR, LF, NUL or another control character, or when method, path or
    // version holds a blank.
    bool Open(const std::string& host, int port, const std::string& method, const std::string& path,
              const std::string& version);
    // Sets (or replaces) a request header; the value is printf-formatted. False for an empty
    // name or format, a name with blanks, ':' or control characters, or a value holding CR, LF,
    // NUL or another control character (tab allowed). Headers go out ordered by the byte values
    // of their names.
    bool SetHeader(const std::string& name, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    // The same with a ready value (no formatting).
    bool SetHeaderValue(const std::string& name, const std::string& value);
    // Connects and sends "<method> <path> <version>\r\n", one "Name: value\r\n" per header,
    // "\r\n". True when every byte went out.
    bool SendHead();
    bool SendBody(const void* bytes, size_t length);
    bool SendBody(std::string_view bytes) { return SendBody(bytes.data(), bytes.size()); }

    // Reads and parses the response head (at most kMaxHeadBytes). False when no complete head
    // arrived, or a head was already received. Bytes after the head are the body's first block.
    bool ReceiveHead();
    // The body into a file, created or replaced; needs a Content-Length. False on a short body, a
    // failed write, or an abort by the callback (the partial file stays). The callback may be
    // empty.
    bool DownloadToFile(const fs::path& file, const ProgressCallback& callback, void* user);
    // As DownloadToFile, handing every block to the callback instead of a file (required).
    bool ReceiveBodyBlocks(const ProgressCallback& callback, void* user);
    // The whole body into out (Content-Length or chunked, at most the body limit). False when
    // the body is empty, short, over the limit, malformed, or delimited only by the close.
    bool ReceiveBody(std::string& out);

    // The number between the first and the second blank of the status line; 404 when there is
    // no status line or it lacks either blank.
    int GetStatusCode() const;
    // The Content-Length header when it is plain decimal digits that fit; otherwise 0.
    int64_t GetContentLength() const;
    // The raw response head; false when none was received.
    bool GetRawHead(std::string& out) const;
    // A response header by name (case-insensitive); "" when absent.
    std::string GetHeader(const std::string& name) const;
    const std::string& GetStatusLine() const { return m_head.statusLine; }

    void Close();
    // Seconds for every wait; values below 1 count as 1.
    void SetTimeout(int seconds);
    // Receive block size; false (unchanged) below 1 or above kMaxBlockSize.
    bool SetBlockSize(int bytes);
    // Bound of ReceiveBody in bytes.
    void SetBodyLimit(size_t bytes) { m_bodyLimit = bytes; }

    // Thread-safe; ends the current and every later wait of this agent.
    void Cancel();
    bool IsCancelled() const { return m_cancelled.load(); }

private:
    struct Block {
        const char* data = nullptr;
        size_t length = 0;
    };
    enum class BodyKind { None, Length, Chunked };

    void Reset();
    bool Connect();
    // A name (starting with a letter) looked up with the time-out and cancel applied, else a
    // dotted IPv4 address.
    bool ResolveHost(in_addr& out);
    bool SendAll(const char* data, size_t length);
    // > 0 bytes received, 0 closed by the peer, -1 time-out, error or cancel.
    long ReceiveSome(char* buffer, size_t capacity);
    // Waits for the socket (POLLIN or POLLOUT) or the cancel signal; false on time-out,
    // error or cancel.
    bool WaitFor(short events);
    // The next body block: pending head bytes first, then at most `limit` bytes from the
    // socket, read readSize bytes at a time (0: the block size). length 0 when the peer closed
    // or a wait failed.
    Block NextBlock(size_t limit, size_t readSize = 0);
    // Bytes asked of the socket per read when no callback needs blocks of the block size.
    size_t BatchSize() const;
    BodyKind Framing() const;
    bool ReceiveCounted(std::string& out);
    bool ReceiveChunked(std::string& out);
    bool ReceiveBlocks(const ProgressCallback& callback, void* user,
                       const std::function<bool(const char*, size_t)>& sink);

    int m_port = 0;
    int m_socket = -1;
    int m_cancelFd = -1; // eventfd, signalled by Cancel
    std::atomic<bool> m_cancelled{false};
    int m_timeoutSeconds = kDefaultTimeoutSeconds;
    int m_blockSize = kDefaultBlockSize;
    size_t m_bodyLimit = kDefaultBodyLimit;
    std::string m_host;
    std::string m_pending; // body bytes that arrived with the head
    size_t m_pendingOffset = 0;
    std::string m_rawHead;
    bool m_headReceived = false;
    std::string m_requestLine;
    std::map<std::string, std::string> m_requestHeaders; // byte order of names
    ResponseHead m_head;
    std::unique_ptr<char[]> m_buffer; // receive buffer of m_blockSize
    size_t m_bufferSize = 0;
};
