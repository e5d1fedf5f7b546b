#pragma once
// The texts and numbers the panels and the tray show, kept free of windows so they can be
// checked on their own. Progress numbers come from the phone's query and are clamped here
// before any arithmetic.

#include "net/BackupProgress.h"

#include <cstdint>
#include <string>
#include <string_view>

// Tray and balloon length limits, in characters.
inline constexpr size_t kTrayTipChars = 127;
inline constexpr size_t kBalloonTitleChars = 63;
inline constexpr size_t kBalloonTextChars = 255;

// At most maxChars characters of text, cut at a character boundary (invalid bytes count as
// one character each and are kept as they are; the drawing code replaces them).
std::string CutToChars(std::string_view text, size_t maxChars);

// A phone's progress report made safe: total >= 0, 0 <= current <= total, speed and elapsed
// >= 0 (NaN counts as 0).
struct ProgressNumbers {
    double current = 0;
    int32_t total = 0;
    int32_t speedKBs = 0;
    int32_t elapsed = 0;
};
ProgressNumbers ClampProgress(const BackupProgress& progress);

// The run is over once the last photo arrived or was reported as already held (current =
// total - 0.5). Never for an empty run.
bool IsBackupComplete(const ProgressNumbers& numbers);

// "备份中... %d/%d".
std::string ShortStatusText(const ProgressNumbers& numbers);
// "预计剩余时间: %s  平均速度: %s"; "..." for both while nothing has arrived yet. The remaining
// time is capped at 99:59:59.
std::string RemainingText(const ProgressNumbers& numbers);
// Width of the bar's filled part for a bar of fullWidth pixels; 0 when there is no run.
int ProgressBarWidth(const ProgressNumbers& numbers, int fullWidth);

// The tray tips of the panels and the balloon of a finished backup.
std::string LibraryTrayTip(int64_t count, int64_t bytes);
std::string BackupTrayTip(const std::string& deviceName, const ProgressNumbers& numbers);
std::string BackupDoneBalloon(const std::string& deviceName);
