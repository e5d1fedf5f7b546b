#include "platform/UiDispatcher.h"

#include <deque>
#include <mutex>
#include <utility>

struct CHUiDispatcher::Core {
    std::mutex lock;
    std::deque<std::function<void()>> queue;
    std::function<void()> wake;
    bool shutDown = false;
    bool wakePending = false;

    size_t RunPending() {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard<std::mutex> guard(lock);
            wakePending = false;
            if (shutDown)
                return 0;
            batch.swap(queue);
        }
        size_t ran = 0;
        for (auto& task : batch) {
            {
                std::lock_guard<std::mutex> guard(lock);
                if (shutDown) // a task shut the dispatcher down: drop the rest too
                    break;
            }
            task();
            ++ran;
        }
        return ran;
    }
};

CHUiDispatcher::CHUiDispatcher(std::function<void()> wake) : m_core(std::make_shared<Core>()) {
    m_core->wake = std::move(wake);
}

CHUiDispatcher::~CHUiDispatcher() {
    Shutdown();
}

void CHUiDispatcher::SetWake(std::function<void()> wake) {
    std::lock_guard<std::mutex> guard(m_core->lock);
    m_core->wake = std::move(wake);
}

bool CHUiDispatcher::Post(std::function<void()> task) {
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> guard(m_core->lock);
        if (m_core->shutDown || !task)
            return false;
        m_core->queue.push_back(std::move(task));
        if (!m_core->wakePending) {
            m_core->wakePending = true;
            wake = m_core->wake;
        }
    }
    if (wake)
        wake();
    return true;
}

size_t CHUiDispatcher::RunPending() {
    return m_core->RunPending();
}

void CHUiDispatcher::Shutdown() {
    std::deque<std::function<void()>> dropped;
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> guard(m_core->lock);
        m_core->shutDown = true;
        dropped.swap(m_core->queue);
        // A backend's wake-up may hold a Runner, which holds the queue: let go of it.
        wake.swap(m_core->wake);
    }
    // Tasks are destroyed outside the lock: their captures may post or lock themselves.
}

bool CHUiDispatcher::IsShutDown() const {
    std::lock_guard<std::mutex> guard(m_core->lock);
    return m_core->shutDown;
}

std::function<void()> CHUiDispatcher::Runner() const {
    std::shared_ptr<Core> core = m_core;
    return [core] { core->RunPending(); };
}
