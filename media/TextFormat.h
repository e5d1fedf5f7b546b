#pragma once
// Human-readable texts of the user interface (UTF-8).

#include <cstdint>
#include <string>

std::string FormatSize(int64_t bytes);        // "1.50 KB", "1024 B", "1024.00 MB"
std::string FormatDuration(uint32_t seconds); // "59秒", "1分1秒", "1时0分0秒"
std::string FormatClock(uint32_t seconds);    // "01:01", "1:01:01"
