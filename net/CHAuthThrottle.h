#pragma once
// Limits pairing-password guesses: a peer address that failed maxFailures times within the
// window is refused until its oldest failure leaves the window.

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class CHAuthThrottle {
public:
    using Clock = std::chrono::steady_clock;
    using NowFn = std::function<Clock::time_point()>;

    static constexpr int kMaxFailures = 10;
    static constexpr std::chrono::seconds kWindow{60};
    // Peers remembered at most; beyond this the ones without recent failures are dropped first.
    static constexpr size_t kMaxPeers = 4096;

    explicit CHAuthThrottle(int maxFailures = kMaxFailures,
                            std::chrono::steady_clock::duration window = kWindow,
                            NowFn now = nullptr);

    // False while the peer has used up its failures.
    bool Allowed(const std::string& peer);
    void RecordFailure(const std::string& peer);
    size_t TrackedPeers() const;

private:
    Clock::time_point Now() const;
    void Expire(std::deque<Clock::time_point>& failures, Clock::time_point now) const;
    void PruneLocked(Clock::time_point now);

    const int m_maxFailures;
    const Clock::duration m_window;
    NowFn m_now;
    mutable std::mutex m_lock;
    std::map<std::string, std::deque<Clock::time_point>> m_failures;
};
