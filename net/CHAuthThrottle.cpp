#include "net/CHAuthThrottle.h"

#include <algorithm>

CHAuthThrottle::CHAuthThrottle(int maxFailures, std::chrono::steady_clock::duration window,
                               NowFn now, int globalMaxFailures)
    : m_maxFailures(maxFailures), m_globalMaxFailures(globalMaxFailures), m_window(window),
      m_now(std::move(now)) {}

CHAuthThrottle::Clock::time_point CHAuthThrottle::Now() const {
    return m_now ? m_now() : Clock::now();
}

void CHAuthThrottle::Expire(std::deque<Clock::time_point>& failures, Clock::time_point now) const {
    while (!failures.empty() && now - failures.front() >= m_window) {
        failures.pop_front();
    }
}

bool CHAuthThrottle::LockedLocked(Clock::time_point now) {
    if (now < m_lockedUntil) {
        return true;
    }
    Expire(m_globalFailures, now);
    if (static_cast<int>(m_globalFailures.size()) < m_globalMaxFailures) {
        return false;
    }
    // The budget is used up: lock, and make the next lock-out longer unless things were calm.
    if (m_lockedUntil != Clock::time_point{} && now - m_lockedUntil > kCalm) {
        m_nextLockout = kFirstLockout;
    }
    m_lockedUntil = now + m_nextLockout;
    m_lastLockout = now;
    m_nextLockout = std::min<Clock::duration>(m_nextLockout * 2, kLongestLockout);
    // The failures that caused it are paid for by the lock-out.
    m_globalFailures.clear();
    return true;
}

CHAuthThrottle::Verdict CHAuthThrottle::Admit(const std::string& peer) {
    const auto now = Now();
    std::lock_guard<std::mutex> guard(m_lock);
    if (LockedLocked(now)) {
        return Verdict::LockedForAll;
    }
    auto it = m_failures.find(peer);
    if (it != m_failures.end()) {
        Expire(it->second, now);
        if (static_cast<int>(it->second.size()) >= m_maxFailures) {
            return Verdict::PeerLimited;
        }
    } else {
        if (m_failures.size() >= kMaxPeers) {
            PruneLocked(now);
        }
        it = m_failures.emplace(peer, std::deque<Clock::time_point>()).first;
    }
    it->second.push_back(now);
    m_globalFailures.push_back(now);
    return Verdict::Admitted;
}

void CHAuthThrottle::Succeeded(const std::string& peer) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_failures.find(peer);
    if (it != m_failures.end() && !it->second.empty()) {
        it->second.pop_back();
        if (it->second.empty()) {
            m_failures.erase(it);
        }
    }
    if (!m_globalFailures.empty()) {
        m_globalFailures.pop_back();
    }
}

int CHAuthThrottle::PeerFailures(const std::string& peer) {
    const auto now = Now();
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_failures.find(peer);
    if (it == m_failures.end()) {
        return 0;
    }
    Expire(it->second, now);
    return static_cast<int>(it->second.size());
}

int CHAuthThrottle::GlobalFailures() {
    const auto now = Now();
    std::lock_guard<std::mutex> guard(m_lock);
    Expire(m_globalFailures, now);
    return static_cast<int>(m_globalFailures.size());
}

bool CHAuthThrottle::LockedForAll() {
    const auto now = Now();
    std::lock_guard<std::mutex> guard(m_lock);
    return now < m_lockedUntil;
}

size_t CHAuthThrottle::TrackedPeers() const {
    const auto now = Now();
    std::lock_guard<std::mutex> guard(m_lock);
    size_t count = 0;
    for (const auto& [peer, failures] : m_failures) {
        count += !failures.empty() && now - failures.back() < m_window ? 1 : 0;
    }
    return count;
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
