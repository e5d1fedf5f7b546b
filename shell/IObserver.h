#pragma once

#include <memory>

// Notification codes raised through CNotifyHub.
enum NotifyCode : int {
    NOTIFY_DEVICES_CHANGED = 0, // data: none
    NOTIFY_DEVICE_STATS = 1,    // data: std::string device key, or none for "all"
    NOTIFY_BACKUP_PROGRESS = 2, // data: BackupProgress (net/BackupProgress.h)
    NOTIFY_BACKUP_DONE = 3,     // data: HistoryRecord (shell/HistoryRecord.h)
};

// Implemented by the panels. Called synchronously on the notifying thread; the data is shared
// and immutable, so an observer may keep it after the call and nobody frees it twice.
class IObserver {
public:
    virtual void OnNotify(int code, const std::shared_ptr<const void>& data) = 0;

protected:
    ~IObserver() = default;
};
