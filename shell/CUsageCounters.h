#pragma once
// The usage counters of one run, stored as the usage report at shutdown. Any thread may count.

#include <json/value.h>

#include <map>
#include <mutex>
#include <set>
#include <string>

// Counter keys.
enum UsageCounter : int {
    COUNT_PHOTOS_BACKED_UP = 1000, // photos in finished backups
    COUNT_PHOTOS_MISSING = 1001,   // photos still missing when a stalled backup was ended
    COUNT_WINDOW_OPENED = 1002,    // the window opened from the tray
    COUNT_AUTOSTART_ON = 1003,     // start with the system switched on
    COUNT_FOLDER_OPENED = 1004,    // "open folder" used
    COUNT_DEVICES = 1005,          // the device set (AddItem)
};

class CUsageCounters {
public:
    void Add(int key, int delta);
    void Set(int key, int value);
    // Adds the text to the device set; the key is not stored.
    void AddItem(int key, const std::string& text);

    // {"<key>": value, ..., "devices": [...], "pcID": pcId}
    Json::Value BuildReport(const std::string& pcId) const;
    // The report as stored under "count_data".
    std::string ReportText(const std::string& pcId) const;

private:
    mutable std::mutex m_lock;
    std::map<int, int> m_counters;
    std::set<std::string> m_devices;
};
