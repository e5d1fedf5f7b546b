// The panels' numbers and texts: progress from the phone is clamped before any arithmetic, the
// end of a run is recognised also when the last photo was already held, and texts bound for
// the tray are cut at character boundaries.

#include "ui/windows/CXQRCodeView.h"
#include "ui/windows/PanelText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

BackupProgress Report(float current, int32_t total, int32_t speed = 0, int32_t elapsed = 0) {
    BackupProgress progress;
    progress.deviceKey = "k";
    progress.current = current;
    progress.total = total;
    progress.speed = speed;
    progress.elapsed = elapsed;
    return progress;
}

bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
        if (i + n > text.size()) {
            return false;
        }
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += n;
    }
    return true;
}

TEST(PanelText, HostileProgressNumbersAreClampedBeforeArithmetic) {
    ProgressNumbers negative = ClampProgress(Report(-5, -3, -100, -9));
    EXPECT_EQ(negative.total, 0);
    EXPECT_EQ(negative.current, 0);
    EXPECT_EQ(negative.speedKBs, 0);
    EXPECT_EQ(negative.elapsed, 0);
    EXPECT_FALSE(IsBackupComplete(negative)) << "an empty run never counts as finished";
    EXPECT_EQ(ProgressBarWidth(negative, 310), 0);

    ProgressNumbers beyond = ClampProgress(Report(50, 10));
    EXPECT_EQ(beyond.current, 10);
    EXPECT_EQ(ProgressBarWidth(beyond, 310), 310);

    ProgressNumbers nan = ClampProgress(Report(std::numeric_limits<float>::quiet_NaN(), 4));
    EXPECT_EQ(nan.current, 0);
    EXPECT_EQ(RemainingText(nan), "预计剩余时间: ...  平均速度: ...");

    // Slow and huge: the remaining time is capped, the speed in bytes does not overflow.
    ProgressNumbers huge = ClampProgress(Report(1, INT32_MAX, INT32_MAX, INT32_MAX));
    EXPECT_EQ(RemainingText(huge), "预计剩余时间: 99:59:59  平均速度: 2048.00 GB/s");
    EXPECT_EQ(ShortStatusText(huge), "备份中... 1/2147483647");
}

TEST(PanelText, ARunEndsWithTheLastPhotoEvenWhenItWasAlreadyHeld) {
    EXPECT_TRUE(IsBackupComplete(ClampProgress(Report(3, 3))));
    EXPECT_TRUE(IsBackupComplete(ClampProgress(Report(2.5f, 3)))) << "held last photo";
    EXPECT_FALSE(IsBackupComplete(ClampProgress(Report(2, 3))));
    EXPECT_FALSE(IsBackupComplete(ClampProgress(Report(1.5f, 3))));
    ProgressNumbers middle = ClampProgress(Report(1, 3, 100, 4));
    EXPECT_EQ(RemainingText(middle), "预计剩余时间: 00:08  平均速度: 100.00 KB/s");
    EXPECT_EQ(ProgressBarWidth(middle, 300), 100);
}

TEST(PanelText, TrayTextsAreCutAtCharacterBoundaries) {
    EXPECT_EQ(CutToChars("abc", 5), "abc");
    EXPECT_EQ(CutToChars("备份完成", 2), "备份");
    EXPECT_EQ(CutToChars("a\xFF"
                         "b",
                         2),
              "a\xFF");
    EXPECT_EQ(CutToChars("\xE5\xA4", 5), "\xE5\xA4") << "a broken sequence is kept byte-wise";

    std::string longName;
    for (int i = 0; i < 300; ++i) {
        longName += "机";
    }
    ProgressNumbers numbers = ClampProgress(Report(5, 2000000000));
    std::string tip = BackupTrayTip(longName, numbers);
    EXPECT_TRUE(IsUtf8(tip));
    EXPECT_LE(CutToChars(tip, 1000).size(), tip.size());
    EXPECT_EQ(CutToChars(tip, kTrayTipChars), tip) << "within the tip's limit";
    EXPECT_NE(tip.find("进度: 6/2000000000"), std::string::npos) << "the progress part survives";

    std::string balloon = BackupDoneBalloon(longName);
    EXPECT_TRUE(IsUtf8(balloon));
    EXPECT_EQ(CutToChars(balloon, kBalloonTextChars), balloon);
    EXPECT_EQ(balloon.substr(balloon.size() - std::string("  备份完成").size()), "  备份完成");

    EXPECT_EQ(LibraryTrayTip(0, 0), "Vellumo");
    EXPECT_EQ(LibraryTrayTip(2, 1536), "Vellumo\n共备份: 2 张照片\n共占用: 1.50 KB");
}

TEST(QrBubble, TheCodeIsScaledByAWholeFactorAndNeverOverlapsTheCaption) {
    EXPECT_EQ(FitQrSquare(41, 162).factor, 3);
    EXPECT_EQ(FitQrSquare(41, 162).side, 123);
    EXPECT_EQ(FitQrSquare(57, 162).side, 114);
    EXPECT_EQ(FitQrSquare(162, 162).factor, 1);
    EXPECT_EQ(FitQrSquare(163, 162).factor, 0) << "too big: not drawn squeezed";
    EXPECT_EQ(FitQrSquare(0, 100).factor, 0);

    CXQRCodeView view;
    view.MoveTo({100, 50, 280, 270});
    view.SetQrText("{\"ip\":\"192.0.2.2\", \"port\":6639, \"passwd\":\"123456\"}");
    CHRect qr = view.QrRect();
    CHRect caption = view.CaptionRect();
    EXPECT_GT(qr.right, qr.left);
    EXPECT_LE(qr.bottom, caption.top);
    EXPECT_GE(qr.left, 100);
    EXPECT_LE(qr.right, 280);
}

} // namespace
