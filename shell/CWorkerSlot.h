#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// Holds at most one running thread. Start runs the routine on a new thread only when no thread
// of this slot is running; otherwise it does nothing. The routine's thread marks the slot free
// under the slot's lock when it returns, so many concurrent Start calls run exactly one thread.
//
// Workers that drain a queue must use StartOrKeep: it atomically either starts a thread or
// tells the running one there is more work, so a job queued just as the worker leaves is run.
class CWorkerSlot {
public:
    using Routine = std::function<void()>;

    CWorkerSlot() = default;
    ~CWorkerSlot(); // joins the thread
    CWorkerSlot(const CWorkerSlot&) = delete;
    CWorkerSlot& operator=(const CWorkerSlot&) = delete;

    // True when a new thread was started. While the slot's thread runs, Start only records
    // that more work was announced (see TryFinish) and returns false.
    bool Start(Routine routine);
    // The same as Start, named for the queue-draining pattern.
    bool StartOrKeep(Routine routine) { return Start(std::move(routine)); }
    bool IsRunning() const;
    // Waits for the running thread, if any, to return.
    void Join();

    // Queue-draining pattern. The routine calls TryFinish() when it found its queue empty
    // (checked under its own queue lock, then released): TryFinish returns false when work was
    // announced meanwhile through Start (the routine must look at its queue again), and true
    // when the slot is now free and the routine must return.
    bool TryFinish();

private:
    mutable std::mutex m_lock;
    std::condition_variable m_done;
    std::thread m_thread;
    bool m_running = false;
    bool m_moreWork = false;
    std::thread::id m_runner;            // the thread that currently owns the slot (when m_running)
    std::vector<std::thread> m_finished; // threads that restarted their own slot; joined later

    void RoutineReturned();
};
