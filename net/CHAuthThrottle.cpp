#include "net/CHAuthThrottle.h"

CHAuthThrottle::CHAuthThrottle(int maxFailures, std::chrono::steady_clock::duration window,
                               NowFn now)
    : m_maxFailures(maxFailures), m_window(window), m_now(std::move(now)) {}

CHAuthThrottle::Clock::time_point CHAuthThrottle::Now() const {
    return m_now ? m_now() : Clock::now();
}

void CHAuthThrottle::Expire(std::deque<Clock::time_point>& failures, Clock::time_point now) const {
    while (!failures.empty() && now - failures.front() >= m_window) {
        failures.pop_front();
    }
}

bool CHAuthThrottle::Allowed(const std::string& peer) {
    const auto now = Now();
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_failures.find(peer);
    if (it == m_failures.end()) {
        return true;
    }
    Expire(it->second, now);
    if (it->second.empty()) {
        m_failures.erase(it);
        return true;
    }
    return static_cast<int>(it->second.size()) < m_maxFailures;
}

void CHAuthThrottle::RecordFailure(const std::string& peer) {
    const auto now = Now();
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_failures.size() >= kMaxPeers && m_failures.count(peer) == 0) {
        PruneLocked(now);
    }
    auto& failures = m_failures[peer];
    Expire(failures, now);
    failures.push_back(now);
    // Only the newest failures matter for the limit.
    while (static_cast<int>(failures.size()) > m_maxFailures) {
        failures.pop_front();
    }
}

size_t CHAuthThrottle::TrackedPeers() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_failures.size();
}

void CHAuthThrottle::PruneLocked(Clock::time_point now) {
    for (auto it = m_failures.begin(); it != m_failures.end();) {
        Expire(it->second, now);
        it = it->second.empty() ? m_failures.erase(it) : std::next(it);
    }
    // Still full of peers failing right now: forget the one whose newest failure is oldest.
    while (m_failures.size() >= kMaxPeers) {
        auto oldest = m_failures.begin();
        for (auto it = m_failures.begin(); it != m_failures.end(); ++it) {
            if (it->second.back() < oldest->second.back()) {
                oldest = it;
            }
        }
        m_failures.erase(oldest);
    }
}
