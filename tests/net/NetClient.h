#pragma once
// Plain blocking sockets for talking to the server under test, and a helper that runs a server
// on its own thread for the life of a test.

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

// Owns a connected TCP socket; closes it on destruction.
class TestConnection {
public:
    // Connects to 127.0.0.1:port, first binding the local end to fromAddress when given
    // (127.0.0.2 stands for another machine).
    explicit TestConnection(int port, const char* fromAddress = nullptr);
    ~TestConnection();
    TestConnection(const TestConnection&) = delete;
    TestConnection& operator=(const TestConnection&) = delete;

    bool Connected() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    bool Send(std::string_view bytes);
    // Everything until the peer closes or the time-out passes. closed tells whether the peer
    // closed (end of stream or reset) within the time.
    std::string ReadAll(std::chrono::milliseconds timeout, bool* closed = nullptr);
    // Waits for the peer to close without reading more than it sends; true when it did.
    bool WaitClosed(std::chrono::milliseconds timeout);
    void Close();

private:
    int m_fd = -1;
};

// Sends one request and returns the whole answer (until the server closes).
std::string Exchange(int port, std::string_view request, const char* fromAddress = nullptr);

// Runs server.Run() on a thread; stops and joins on destruction.
template <class Server> class ServerThread {
public:
    explicit ServerThread(Server& server) : m_server(server) {
        m_thread = std::thread([this] { m_result = m_server.Run(); });
        m_listening = m_server.WaitListening(10000);
    }
    ~ServerThread() { Join(); }
    int Join() {
        if (m_thread.joinable()) {
            m_server.Stop();
            m_thread.join();
        }
        return m_result;
    }
    bool Listening() const { return m_listening; }
    int Port() const { return m_server.BoundPort(); }

private:
    Server& m_server;
    std::thread m_thread;
    int m_result = -1;
    bool m_listening = false;
};

// Polls pred every 20 ms until it holds or the time passes.
template <class Pred> bool WaitFor(Pred pred, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
