#pragma once

#include <string>

// The summary of a device's last backup run, handed with NOTIFY_BACKUP_DONE.
struct HistoryRecord {
    std::string deviceKey;
    std::string timeText;    // "时间: 2013.05.01 10:20:30"
    std::string summaryText; // "备份3张, 占用空间1.50 MB, 耗时1分1秒"
};
