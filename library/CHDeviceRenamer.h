#pragma once
// Device renames, queued and carried out one after the other on one worker, in the order they
// were asked for: a rename asked while another runs waits its turn instead of being lost.

#include "shell/CWorkerSlot.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

class CHDeviceRenamer {
public:
    struct Job {
        std::string deviceKey;
        std::string oldName;
        std::string newName;
    };
    using RenameFn = std::function<void(const Job&)>;

    explicit CHDeviceRenamer(RenameFn rename);
    ~CHDeviceRenamer();
    CHDeviceRenamer(const CHDeviceRenamer&) = delete;
    CHDeviceRenamer& operator=(const CHDeviceRenamer&) = delete;

    // False once stopped.
    bool Push(Job job);
    // Drops the renames not started yet and joins the worker (a rename in progress completes).
    void Stop();
    bool WaitIdle(int timeoutMs);

private:
    void Routine();

    RenameFn m_rename;
    std::atomic<bool> m_stopping{false};
    std::mutex m_lock; // guards m_queue, m_busy
    std::condition_variable m_idle;
    std::deque<Job> m_queue;
    bool m_busy = false;
    CWorkerSlot m_slot;
};
