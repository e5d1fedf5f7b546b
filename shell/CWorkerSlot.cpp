#include "shell/CWorkerSlot.h"

#include <utility>

CWorkerSlot::~CWorkerSlot() {
    Join();
    std::lock_guard<std::mutex> lock(m_lock);
    // Only when destroyed from its own routine: nothing can join these any more.
    if (m_thread.joinable()) {
        m_thread.detach();
    }
    for (std::thread& thread : m_finished) {
        if (thread.joinable()) {
            thread.detach();
        }
    }
}

bool CWorkerSlot::Start(Routine routine) {
    if (!routine) {
        return false;
    }
    std::thread previous;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_running) {
            // The running thread drains its queue; tell it to look again before leaving.
            m_moreWork = true;
            return false;
        }
        m_running = true;
        m_moreWork = false;
        // A thread that already gave the slot up may still be on its way out (its last step
        // takes the lock briefly); it is joined below, outside the lock.
        previous = std::move(m_thread);
        m_thread = std::thread([this, routine = std::move(routine)]() {
            try {
                routine();
            } catch (...) {
                // No exception crosses a thread boundary.
            }
            RoutineReturned();
        });
        m_runner = m_thread.get_id();
    }
    if (previous.joinable()) {
        if (previous.get_id() == std::this_thread::get_id()) {
            // Start called by the old routine after it gave the slot up: it cannot join
            // itself, so whoever joins the slot next joins it.
            std::lock_guard<std::mutex> lock(m_lock);
            m_finished.push_back(std::move(previous));
        } else {
            previous.join();
        }
    }
    return true;
}

void CWorkerSlot::RoutineReturned() {
    std::lock_guard<std::mutex> lock(m_lock);
    // Only the thread that still owns the slot frees it: after TryFinish returned true the slot
    // may already belong to a newer thread.
    if (m_running && m_runner == std::this_thread::get_id()) {
        m_running = false;
        m_moreWork = false;
        m_runner = std::thread::id();
    }
    m_done.notify_all();
}

bool CWorkerSlot::TryFinish() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_running || m_runner != std::this_thread::get_id()) {
        return true; // not the slot's thread: nothing to hand over
    }
    if (m_moreWork) {
        m_moreWork = false;
        return false;
    }
    m_running = false;
    m_runner = std::thread::id();
    m_done.notify_all();
    return true;
}

bool CWorkerSlot::IsRunning() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_running;
}

void CWorkerSlot::Join() {
    std::vector<std::thread> threads;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_running && m_runner == std::this_thread::get_id()) {
            return; // called from the slot's own routine
        }
        m_done.wait(lock, [this] { return !m_running; });
        threads.swap(m_finished);
        threads.push_back(std::move(m_thread));
    }
    for (std::thread& thread : threads) {
        if (!thread.joinable()) {
            continue;
        }
        if (thread.get_id() == std::this_thread::get_id()) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_finished.push_back(std::move(thread)); // cannot join itself; left for the next Join
        } else {
            thread.join();
        }
    }
}
