// Thumbnails against ImageMagick: the same photo, turned upright by its EXIF orientation and cut
// and resized to the same rectangle by ImageMagick, must look the same as ours.
#include "media/CHBitmap.h"
#include "media/CHFitPlan.h"
#include "tests/support/TestBitmaps.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Filters differ (DCT scaling plus area averaging against a full decode plus ImageMagick's
// default resize filter), so a small difference remains; a wrong turn or cut is far above it.
constexpr double kMaxRmse = 0.02;

struct Case {
    int width;
    int height;
    int boxWidth;
    int boxHeight;
};

class RenderQuality : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        if (ImageMagickConvert().empty()) {
            GTEST_SKIP() << "ImageMagick is not installed";
        }
    }
    TempDir dir{"vellumo-quality"};
};

// ImageMagick's thumbnail of the file: upright (its transverse turn leaves a page offset that
// +repage drops), the plan's source rectangle, resized exactly.
bool Reference(const fs::path& file, const CHFitPlan& plan, const fs::path& out) {
    char crop[96];
    std::snprintf(crop, sizeof crop, "%dx%d+%d+%d", int(plan.srcWidth), int(plan.srcHeight),
                  int(plan.srcX), int(plan.srcY));
    char size[64];
    std::snprintf(size, sizeof size, "%dx%d!", plan.dstWidth, plan.dstHeight);
    return RunConvert({file.string(), "-auto-orient", "+repage", "-crop", crop, "+repage",
                       "-resize", size, "-depth", "8", out.string()});
}

// RMSE over the drawn rectangle, leaving out the border.
double Compare(const CHBitmap& thumb, const CHFitPlan& plan, const CHBitmap& reference) {
    int x0 = std::max(plan.dstX, 1);
    int y0 = std::max(plan.dstY, 1);
    int x1 = std::min(plan.dstX + plan.dstWidth, thumb.Width() - 1);
    int y1 = std::min(plan.dstY + plan.dstHeight, thumb.Height() - 1);
    return Rmse(thumb, x0, y0, reference, x0 - plan.dstX, y0 - plan.dstY, x1 - x0, y1 - y0);
}

TEST_P(RenderQuality, EveryOrientationMatchesImageMagick) {
    const Case c = GetParam();
    const std::string plain = EncodeJpegAt(MakePhotoBitmap(c.width, c.height, 11), 92);
    CHBitmap upright; // orientation 1's reference, to show that a wrong turn would be caught
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        const std::string jpeg = WithOrientation(plain, orientation);
        const fs::path file = dir / "photo.jpg";
        ASSERT_TRUE(WriteTestFile(file, jpeg));

        const bool swap = orientation >= 5;
        CHFitPlan plan;
        ASSERT_TRUE(CHFitPlan::Make(swap ? c.height : c.width, swap ? c.width : c.height,
                                    c.boxWidth, c.boxHeight, plan));
        CHBitmap thumb;
        ASSERT_TRUE(thumb.DecodeThumbnail(jpeg.data(), jpeg.size(), c.boxWidth, c.boxHeight));
        ASSERT_EQ(thumb.Width(), plan.width);
        ASSERT_EQ(thumb.Height(), plan.height);

        CHBitmap reference;
        ASSERT_TRUE(Reference(file, plan, dir / "reference.ppm"));
        ASSERT_TRUE(ReadPpm(dir / "reference.ppm", reference));
        ASSERT_EQ(reference.Width(), plan.dstWidth);
        ASSERT_EQ(reference.Height(), plan.dstHeight);
        EXPECT_LT(Compare(thumb, plan, reference), kMaxRmse);

        if (orientation == 1) {
            upright = std::move(reference);
        } else if (upright.Width() == reference.Width() && upright.Height() == reference.Height()) {
            EXPECT_GT(Compare(thumb, plan, upright), 3 * kMaxRmse);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RenderQuality,
                         ::testing::Values(Case{1200, 900, 150, 150}, Case{900, 1200, 150, 150},
                                           Case{1000, 1000, 150, 150}, Case{1200, 900, 200, 120},
                                           Case{900, 1200, 200, 120}, Case{1000, 1000, 160, 240},
                                           Case{1200, 900, -1, 160},
                                           // Decoded at 1/8 from the DC values alone.
                                           Case{1200, 900, 100, 100}, Case{900, 1200, 120, 80},
                                           Case{1600, 1200, -1, 140}));

} // namespace
