#include "media/TextFormat.h"

#include <gtest/gtest.h>

TEST(TextFormat, SizeBoundaries) {
    EXPECT_EQ(FormatSize(0), "0 B");
    EXPECT_EQ(FormatSize(1), "1 B");
    EXPECT_EQ(FormatSize(1024), "1024 B");
    EXPECT_EQ(FormatSize(1025), "1.00 KB");
    EXPECT_EQ(FormatSize(1536), "1.50 KB");
    EXPECT_EQ(FormatSize(1048576), "1024.00 KB");
    EXPECT_EQ(FormatSize(1048577), "1.00 MB");
    EXPECT_EQ(FormatSize(1073741824), "1024.00 MB");
    EXPECT_EQ(FormatSize(1073741825), "1.00 GB");
    EXPECT_EQ(FormatSize(5LL * 1073741824 + 536870912), "5.50 GB");
    EXPECT_EQ(FormatSize(-5), "-5 B");
}

TEST(TextFormat, Duration) {
    EXPECT_EQ(FormatDuration(0), "0秒");
    EXPECT_EQ(FormatDuration(59), "59秒");
    EXPECT_EQ(FormatDuration(60), "1分0秒");
    EXPECT_EQ(FormatDuration(61), "1分1秒");
    EXPECT_EQ(FormatDuration(3599), "59分59秒");
    EXPECT_EQ(FormatDuration(3600), "1时0分0秒");
    EXPECT_EQ(FormatDuration(90061), "25时1分1秒");
    EXPECT_EQ(FormatDuration(4294967295u), "1193046时28分15秒");
}

TEST(TextFormat, Clock) {
    EXPECT_EQ(FormatClock(0), "00:00");
    EXPECT_EQ(FormatClock(59), "00:59");
    EXPECT_EQ(FormatClock(61), "01:01");
    EXPECT_EQ(FormatClock(3599), "59:59");
    EXPECT_EQ(FormatClock(3600), "1:00:00");
    EXPECT_EQ(FormatClock(3661), "1:01:01");
    EXPECT_EQ(FormatClock(360000), "100:00:00");
}

TEST(TextFormat, SpeedText) {
    // The backup speed text: FormatSize of bytes per second followed by "/s".
    EXPECT_EQ(FormatSize(2048 * 1024 + 1) + "/s", "2.00 MB/s");
}
