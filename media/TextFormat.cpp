#include "media/TextFormat.h"

#include <cstdio>

std::string FormatSize(int64_t bytes) {
    char text[64];
    const double v = static_cast<double>(bytes);
    const double gb = v / 1073741824.0;
    const double mb = v / 1048576.0;
    const double kb = v / 1024.0;
    // Strict comparisons: exactly 1024 bytes stays "1024 B", exactly 1 MiB is "1024.00 KB".
    if (gb > 1) {
        std::snprintf(text, sizeof(text), "%.2f GB", gb);
    } else if (mb > 1) {
        std::snprintf(text, sizeof(text), "%.2f MB", mb);
    } else if (kb > 1) {
        std::snprintf(text, sizeof(text), "%.2f KB", kb);
    } else {
        std::snprintf(text, sizeof(text), "%lld B", static_cast<long long>(bytes));
    }
    return text;
}

namespace {

struct HoursMinutesSeconds {
    unsigned long h, m, s;
    explicit HoursMinutesSeconds(uint32_t seconds)
        : h(seconds / 3600), m((seconds / 60) % 60), s(seconds % 60) {}
};

} // namespace

std::string FormatDuration(uint32_t seconds) {
    const auto [h, m, s] = HoursMinutesSeconds(seconds);
    char text[96];
    if (h > 0) {
        std::snprintf(text, sizeof(text), "%lu时%lu分%lu秒", h, m, s);
    } else if (m > 0) {
        std::snprintf(text, sizeof(text), "%lu分%lu秒", m, s);
    } else {
        std::snprintf(text, sizeof(text), "%lu秒", s);
    }
    return text;
}

std::string FormatClock(uint32_t seconds) {
    const auto [h, m, s] = HoursMinutesSeconds(seconds);
    char text[64];
    if (h > 0) {
        std::snprintf(text, sizeof(text), "%lu:%02lu:%02lu", h, m, s);
    } else {
        std::snprintf(text, sizeof(text), "%02lu:%02lu", m, s);
    }
    return text;
}
