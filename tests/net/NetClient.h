#pragma once
// Runs a server on its own thread for the life of a test; connections come from
// tests/support/TestConnection.h.

#include "tests/support/TestConnection.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

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
