#pragma once
// A loopback HTTP peer for client tests: it accepts connections on 127.0.0.1, one at a time,
// records the exact bytes of every request and answers each as its script says (byte by byte,
// in pieces, stalling, closing early).

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class ScriptedServer;

class ScriptedConnection {
public:
    ScriptedConnection(ScriptedServer& server, int fd, int stopFd)
        : m_server(server), m_fd(fd), m_stopFd(stopFd) {}

    // Reads one request: the head up to its empty line plus a Content-Length body. Returns
    // what arrived, also when the client stopped early.
    std::string ReadRequest();
    bool Send(std::string_view bytes);
    // Sends the bytes in two writes split at offset, pausing between them so the client reads
    // the pieces separately.
    bool SendSplit(std::string_view bytes, size_t offset);
    // Sends one byte per write.
    bool SendByteByByte(std::string_view bytes);
    // Waits until the client closes (true) or the server stops or the time passes (false),
    // sending nothing: a hung server.
    bool WaitClientClose(std::chrono::milliseconds timeout = std::chrono::minutes(5));
    void Pause(std::chrono::milliseconds time);

private:
    // Waits for input on the connection; false when the server stops or the time passes.
    bool WaitReadable(int timeoutMs);

    ScriptedServer& m_server;
    int m_fd;
    int m_stopFd;
};

class ScriptedServer {
public:
    using Script = std::function<void(ScriptedConnection&)>;

    // Every connection runs the script, then is closed.
    explicit ScriptedServer(Script script);
    ~ScriptedServer(); // stops: a script waiting in WaitClientClose returns
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return m_port; }
    // "127.0.0.1:<port>", as the update server setting takes it.
    std::string Address() const;
    void SetScript(Script script);
    // The requests read so far by ReadRequest, oldest first.
    std::vector<std::string> Requests() const;
    int Connections() const;
    // Waits until this many connections were accepted.
    bool WaitConnections(int count, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Waits until this many connections ran their script to the end.
    bool WaitFinished(int count, std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // Script pieces.
    static Script Reply(std::string answer);
    // An answer with a Content-Length.
    static std::string Answer(std::string_view body, std::string_view status = "200 OK",
                              std::string_view extraHeaders = {});

private:
    void Run();
    void RecordRequest(std::string request);
    friend class ScriptedConnection;

    int m_listen = -1;
    int m_stopFd = -1;
    int m_port = 0;
    mutable std::mutex m_lock;
    Script m_script;
    std::vector<std::string> m_requests;
    int m_connections = 0;
    int m_finished = 0;
    std::thread m_thread;
};
