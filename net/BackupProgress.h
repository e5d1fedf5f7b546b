#pragma once
// The progress of one upload as the phone reports it, handed to the panels with
// NOTIFY_BACKUP_PROGRESS (as std::shared_ptr<const BackupProgress>).

#include <cstdint>
#include <string>

struct BackupProgress {
    static constexpr int32_t kPhaseTransfer = 2;

    std::string deviceKey; // query "key"
    int32_t phase = kPhaseTransfer;
    // Number of this photo in the run; a photo that was reported but not sent arrives as the
    // number minus 0.5.
    float current = 0;
    int32_t total = 0;   // photos in the run
    int32_t speed = 0;   // the app's average speed in KB/s
    int32_t elapsed = 0; // seconds since the run started
};
