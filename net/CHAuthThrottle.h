#pragma once
// Limits pairing-password guesses. Each address may fail maxFailures times within the window;
// on top of that all addresses together share a failure budget, and using it up locks pairing
// for everyone for a back-off that doubles with each further lock-out. A guess is counted when
// it is admitted, before the password is compared, so a burst of simultaneous guesses cannot
// all slip in ahead of the count; a right password takes its count back.

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
    // Failures of all addresses together within the window before pairing is locked.
    static constexpr int kGlobalMaxFailures = 30;
    // The first lock-out; each one that follows before a calm period doubles it, up to the
    // longest.
    static constexpr std::chrono::seconds kFirstLockout{60};
    static constexpr std::chrono::seconds kLongestLockout{3600};
    static constexpr std::chrono::seconds kCalm{3600};
    // Peers remembered at most; beyond this the ones without recent failures are dropped first.
    static constexpr size_t kMaxPeers = 4096;

    // An 8-digit password takes 5 * 10^7 guesses on average; at 30 an hour once the back-off
    // has grown, that is centuries.
    explicit CHAuthThrottle(int maxFailures = kMaxFailures,
                            std::chrono::steady_clock::duration window = kWindow,
                            NowFn now = nullptr, int globalMaxFailures = kGlobalMaxFailures);

    enum class Verdict {
        Admitted,     // compare the password; the guess is already counted as a failure
        PeerLimited,  // this address used up its failures
        LockedForAll, // the global budget is used up: nobody may pair now
    };
    // Checks and counts in one step.
    Verdict Admit(const std::string& peer);
    // The admitted guess was right: its count is taken back.
    void Succeeded(const std::string& peer);

    // Counts of the current window; for tests and the log line.
    int PeerFailures(const std::string& peer);
    int GlobalFailures();
    bool LockedForAll();
    size_t TrackedPeers() const;

private:
    Clock::time_point Now() const;
    void Expire(std::deque<Clock::time_point>& failures, Clock::time_point now) const;
    void PruneLocked(Clock::time_point now);
    bool LockedLocked(Clock::time_point now);

    const int m_maxFailures;
    const int m_globalMaxFailures;
    const Clock::duration m_window;
    NowFn m_now;
    mutable std::mutex m_lock;
    std::map<std::string, std::deque<Clock::time_point>> m_failures;
    std::deque<Clock::time_point> m_globalFailures;
    Clock::time_point m_lockedUntil{};
    Clock::time_point m_lastLockout{};
    Clock::duration m_nextLockout = kFirstLockout;
};
