#pragma once

#include "shell/IObserver.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>

// Relays library and upload events to the observers registered for each code.
class CNotifyHub {
public:
    // Adds the observer to the code's set; registering twice has no effect.
    void Subscribe(IObserver* observer, int code);
    void Unsubscribe(IObserver* observer, int code);
    // Calls every observer of the code on this thread. Safe against concurrent Subscribe: the
    // observers are copied under the lock and called outside it.
    void Notify(int code, std::shared_ptr<const void> data = nullptr);

    // Convenience for NOTIFY_DEVICE_STATS: an empty key means "all".
    void NotifyDeviceStats(const std::string& deviceKey);

private:
    std::mutex m_lock;
    std::map<int, std::set<IObserver*>> m_observers;
};
