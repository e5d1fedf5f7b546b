#include "library/CHDeviceRenamer.h"

#include <chrono>

CHDeviceRenamer::CHDeviceRenamer(RenameFn rename) : m_rename(std::move(rename)) {}

CHDeviceRenamer::~CHDeviceRenamer() {
    Stop();
}

bool CHDeviceRenamer::Push(Job job) {
    if (m_stopping) {
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_queue.push_back(std::move(job));
    }
    m_slot.Start([this] { Routine(); });
    return true;
}

void CHDeviceRenamer::Stop() {
    m_stopping = true;
    m_slot.Join();
    std::lock_guard<std::mutex> guard(m_lock);
    m_queue.clear();
    m_busy = false;
    m_idle.notify_all();
}

bool CHDeviceRenamer::WaitIdle(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return m_queue.empty() && !m_busy; });
}

void CHDeviceRenamer::Routine() {
    for (;;) {
        if (m_stopping) {
            return;
        }
        Job job;
        bool have = false;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (!m_queue.empty()) {
                job = std::move(m_queue.front());
                m_queue.pop_front();
                m_busy = true;
                have = true;
            }
        }
        if (!have) {
            if (m_slot.TryFinish()) {
                return;
            }
            continue;
        }
        m_rename(job);
        std::lock_guard<std::mutex> guard(m_lock);
        m_busy = false;
        m_idle.notify_all();
    }
}
