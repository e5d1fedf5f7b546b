#include "shell/CNotifyHub.h"

#include <string>
#include <vector>

void CNotifyHub::Subscribe(IObserver* observer, int code) {
    if (observer == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_observers[code].insert(observer);
}

void CNotifyHub::Unsubscribe(IObserver* observer, int code) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_observers.find(code);
    if (it == m_observers.end()) {
        return;
    }
    it->second.erase(observer);
    if (it->second.empty()) {
        m_observers.erase(it);
    }
}

void CNotifyHub::Notify(int code, std::shared_ptr<const void> data) {
    // Snapshot under the lock, call outside it: an observer may subscribe, unsubscribe or
    // notify again from inside OnNotify without deadlocking, and a concurrent Subscribe never
    // invalidates the set being walked.
    std::vector<IObserver*> observers;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_observers.find(code);
        if (it == m_observers.end()) {
            return;
        }
        observers.assign(it->second.begin(), it->second.end());
    }
    for (IObserver* observer : observers) {
        observer->OnNotify(code, data);
    }
}

void CNotifyHub::NotifyDeviceStats(const std::string& deviceKey) {
    if (deviceKey.empty()) {
        Notify(NOTIFY_DEVICE_STATS, nullptr);
    } else {
        Notify(NOTIFY_DEVICE_STATS, std::make_shared<const std::string>(deviceKey));
    }
}
