#pragma once
// Plain blocking sockets for talking to the server under test from 127.0.0.x.

#include <chrono>
#include <string>
#include <string_view>

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
std::string Exchange(int port, std::string_view request, const char* fromAddress = nullptr,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20));
