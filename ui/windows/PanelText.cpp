#include "ui/windows/PanelText.h"

#include "media/TextFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kMaxRemainingSeconds = 99 * 3600 + 59 * 60 + 59;

size_t Utf8Length(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        return 4;
    }
    return 1;
}

// The length of the character at the start of text, or 1 for a byte that starts none.
size_t CharLength(std::string_view text) {
    size_t length = Utf8Length(static_cast<unsigned char>(text[0]));
    if (length > text.size()) {
        return 1;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            return 1;
        }
    }
    return length;
}

std::string Printf(const char* format, auto... values) {
    char buffer[256];
    int n = std::snprintf(buffer, sizeof buffer, format, values...);
    return std::string(buffer, n < 0 ? 0 : std::min<size_t>(n, sizeof buffer - 1));
}

} // namespace

std::string CutToChars(std::string_view text, size_t maxChars) {
    size_t at = 0;
    for (size_t chars = 0; at < text.size() && chars < maxChars; ++chars) {
        at += CharLength(text.substr(at));
    }
    return std::string(text.substr(0, at));
}

ProgressNumbers ClampProgress(const BackupProgress& progress) {
    ProgressNumbers numbers;
    numbers.total = std::max<int32_t>(progress.total, 0);
    double current = std::isfinite(progress.current) ? progress.current : 0.0;
    numbers.current = std::clamp(current, 0.0, static_cast<double>(numbers.total));
    numbers.speedKBs = std::max<int32_t>(progress.speed, 0);
    numbers.elapsed = std::max<int32_t>(progress.elapsed, 0);
    return numbers;
}

bool IsBackupComplete(const ProgressNumbers& numbers) {
    return numbers.total > 0 && numbers.current + 0.5 >= numbers.total;
}

std::string ShortStatusText(const ProgressNumbers& numbers) {
    return Printf("备份中... %d/%d", static_cast<int>(std::lround(numbers.current)), numbers.total);
}

std::string RemainingText(const ProgressNumbers& numbers) {
    if (numbers.current <= 0) {
        return "预计剩余时间: ...  平均速度: ...";
    }
    double remaining = (numbers.total - numbers.current) * numbers.elapsed / numbers.current;
    remaining = std::clamp(remaining, 0.0, kMaxRemainingSeconds);
    std::string speed = FormatSize(static_cast<int64_t>(numbers.speedKBs) * 1024) + "/s";
    return "预计剩余时间: " + FormatClock(static_cast<uint32_t>(remaining)) +
           "  平均速度: " + speed;
}

int ProgressBarWidth(const ProgressNumbers& numbers, int fullWidth) {
    if (numbers.total <= 0 || fullWidth <= 0) {
        return 0;
    }
    return static_cast<int>(fullWidth * (numbers.current / numbers.total));
}

std::string LibraryTrayTip(int64_t count, int64_t bytes) {
    std::string tip = "Vellumo";
    if (count > 0 && bytes > 0) {
        tip += Printf("\n共备份: %lld 张照片\n共占用: ", static_cast<long long>(count)) +
               FormatSize(bytes);
    }
    return CutToChars(tip, kTrayTipChars);
}

std::string BackupTrayTip(const std::string& deviceName, const ProgressNumbers& numbers) {
    // The name comes from the phone: it is cut first so the progress part always shows.
    long long next = std::min<long long>(std::lround(numbers.current) + 1, numbers.total);
    std::string progress =
        Printf(" \n进度: %lld/%lld", next, static_cast<long long>(numbers.total));
    std::string head = "正在备份: ";
    size_t room = kTrayTipChars - 6 - 29; // "正在备份: " and the longest progress part
    return CutToChars(head + CutToChars(deviceName, room) + progress, kTrayTipChars);
}

std::string BackupDoneBalloon(const std::string& deviceName) {
    std::string tail = "  备份完成";
    return CutToChars(deviceName, kBalloonTextChars - 6) + tail;
}
