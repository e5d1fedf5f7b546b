// Thumbnail geometry: where RenderFitted puts an image in its box, checked on pixels of
// synthetic images, and the translucent grey border.
#include "media/CHBitmap.h"
#include "media/CHFitPlan.h"
#include "tests/support/TestBitmaps.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kRed = 0xFFFF0000u;
constexpr uint32_t kGreen = 0xFF00FF00u;
constexpr uint32_t kBlue = 0xFF0000FFu;
constexpr uint32_t kBlack = 0xFF000000u;
// The border pen (alpha 0x3C, grey 0x7F) over black and over white.
constexpr uint32_t kBorderOnBlack = 0xFF1E1E1Eu;
constexpr uint32_t kBorderOnWhite = 0xFFE1E1E1u;

// Three vertical bands: red up to `left`, green up to `right`, blue after.
CHBitmap Bands(int width, int height, int left, int right) {
    CHBitmap b = MakeSolidBitmap(width, height, kGreen);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (x < left) {
                b.Row(y)[x] = kRed;
            } else if (x >= right) {
                b.Row(y)[x] = kBlue;
            }
        }
    }
    return b;
}

TEST(RenderFitted, SquareBoxTakesTheCentreSquare) {
    // 4000 x 3000: the centre square spans x 500..3500, all green.
    CHBitmap photo = Bands(4000, 3000, 500, 3500);
    CHBitmap thumb;
    ASSERT_TRUE(thumb.RenderFitted(photo, 200, 200));
    EXPECT_EQ(thumb.Width(), 200);
    EXPECT_EQ(thumb.Height(), 200);
    EXPECT_EQ(thumb.BitsPerPixel(), 24);
    for (int y = 1; y < 199; ++y) {
        for (int x = 1; x < 199; ++x) {
            ASSERT_EQ(thumb.Pixel(x, y), kGreen) << x << "," << y;
        }
    }
    // Portrait: the square starts at y = (H0 - W0) / 2.
    CHBitmap tall = MakeSolidBitmap(300, 500, kRed);
    for (int y = 100; y < 400; ++y) {
        for (int x = 0; x < 300; ++x) {
            tall.Row(y)[x] = kBlue;
        }
    }
    ASSERT_TRUE(thumb.RenderFitted(tall, 60, 60));
    EXPECT_EQ(thumb.Pixel(30, 1), kBlue);
    EXPECT_EQ(thumb.Pixel(30, 58), kBlue);
}

TEST(RenderFitted, WideBoxLetterBoxes) {
    CHFitPlan plan;
    ASSERT_TRUE(CHFitPlan::Make(4000, 3000, 200, 100, plan));
    EXPECT_EQ(plan.dstX, 33);
    EXPECT_EQ(plan.dstY, 0);
    EXPECT_EQ(plan.dstWidth, 133);
    EXPECT_EQ(plan.dstHeight, 100);

    CHBitmap photo = MakeSolidBitmap(4000, 3000, kRed);
    CHBitmap thumb;
    ASSERT_TRUE(thumb.RenderFitted(photo, 200, 100));
    ASSERT_EQ(thumb.Width(), 200);
    ASSERT_EQ(thumb.Height(), 100);
    for (int y = 1; y < 99; ++y) {
        EXPECT_EQ(thumb.Pixel(32, y), kBlack);
        EXPECT_EQ(thumb.Pixel(33, y), kRed);
        EXPECT_EQ(thumb.Pixel(165, y), kRed);
        EXPECT_EQ(thumb.Pixel(166, y), kBlack);
    }
    // A tall image in a wide box: bars above and below instead.
    ASSERT_TRUE(CHFitPlan::Make(1000, 3000, 120, 300, plan));
    EXPECT_EQ(plan.dstX, 10);
    EXPECT_EQ(plan.dstWidth, 100);
    ASSERT_TRUE(CHFitPlan::Make(3000, 1000, 100, 90, plan));
    EXPECT_EQ(plan.dstX, 0);
    EXPECT_EQ(plan.dstY, 28);
    EXPECT_EQ(plan.dstWidth, 100);
    EXPECT_EQ(plan.dstHeight, 33);
}

TEST(RenderFitted, SmallImageIsCentredUnscaled) {
    CHBitmap small = MakePhotoBitmap(100, 80, 3);
    CHBitmap thumb;
    ASSERT_TRUE(thumb.RenderFitted(small, 200, 150));
    ASSERT_EQ(thumb.Width(), 200);
    ASSERT_EQ(thumb.Height(), 150);
    for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 100; ++x) {
            ASSERT_EQ(thumb.Pixel(50 + x, 35 + y), small.Pixel(x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(thumb.Pixel(49, 60), kBlack);
    EXPECT_EQ(thumb.Pixel(150, 60), kBlack);
    EXPECT_EQ(thumb.Pixel(100, 34), kBlack);
    EXPECT_EQ(thumb.Pixel(100, 115), kBlack);
}

TEST(RenderFitted, SidesThatFollowTheAspectRatio) {
    CHFitPlan plan;
    ASSERT_TRUE(CHFitPlan::Make(4000, 3000, -1, 100, plan));
    EXPECT_EQ(plan.width, 133);
    EXPECT_EQ(plan.height, 100);
    ASSERT_TRUE(CHFitPlan::Make(4000, 3000, 300, -1, plan));
    EXPECT_EQ(plan.width, 300);
    EXPECT_EQ(plan.height, 225);
    // Never larger than the image on the given side.
    ASSERT_TRUE(CHFitPlan::Make(100, 80, 300, -1, plan));
    EXPECT_EQ(plan.width, 100);
    EXPECT_EQ(plan.height, 80);
    ASSERT_TRUE(CHFitPlan::Make(100, 80, 0, 500, plan));
    EXPECT_EQ(plan.width, 100);
    EXPECT_EQ(plan.height, 80);
    // Both free: the image's own size, drawn 1:1.
    CHBitmap photo = MakePhotoBitmap(64, 48, 5);
    CHBitmap thumb;
    ASSERT_TRUE(thumb.RenderFitted(photo, -1, -1));
    EXPECT_EQ(thumb.Width(), 64);
    EXPECT_EQ(thumb.Height(), 48);
    EXPECT_EQ(thumb.Pixel(10, 10), photo.Pixel(10, 10));
    EXPECT_EQ(thumb.Pixel(62, 46), photo.Pixel(62, 46));
}

TEST(RenderFitted, ImagesWithoutASizeFailCleanly) {
    CHFitPlan plan;
    EXPECT_FALSE(CHFitPlan::Make(0, 3000, 150, 150, plan));
    EXPECT_FALSE(CHFitPlan::Make(4000, 0, -1, 100, plan));
    EXPECT_FALSE(CHFitPlan::Make(4000, 0, 0, 0, plan));
    // A side that resolves to zero pixels.
    EXPECT_FALSE(CHFitPlan::Make(1, 5000, -1, 100, plan));
    CHBitmap empty;
    CHBitmap thumb = MakeSolidBitmap(4, 4, kRed);
    EXPECT_FALSE(thumb.RenderFitted(empty, 150, 150));
    EXPECT_TRUE(thumb.IsEmpty());
}

TEST(RenderFitted, TranslucentGreyBorder) {
    CHBitmap white = MakeSolidBitmap(40, 30, 0xFFFFFFFFu);
    CHBitmap thumb;
    ASSERT_TRUE(thumb.RenderFitted(white, -1, -1));
    for (int x = 0; x < 40; ++x) {
        EXPECT_EQ(thumb.Pixel(x, 0), kBorderOnWhite);
        EXPECT_EQ(thumb.Pixel(x, 29), kBorderOnWhite);
    }
    for (int y = 0; y < 30; ++y) {
        EXPECT_EQ(thumb.Pixel(0, y), kBorderOnWhite);
        EXPECT_EQ(thumb.Pixel(39, y), kBorderOnWhite);
    }
    EXPECT_EQ(thumb.Pixel(1, 1), 0xFFFFFFFFu);
    // Over the black bars of a letter-box.
    ASSERT_TRUE(thumb.RenderFitted(white, 100, 30));
    EXPECT_EQ(thumb.Pixel(0, 15), kBorderOnBlack);
    EXPECT_EQ(thumb.Pixel(50, 0), kBorderOnWhite);
    // A 32-bit image keeps its alpha: the border over clear pixels is the pen itself.
    CHBitmap clear = MakeSolidBitmap(20, 10, 0x00000000u, 32);
    ASSERT_TRUE(thumb.RenderFitted(clear, 20, 10));
    EXPECT_EQ(thumb.BitsPerPixel(), 32);
    EXPECT_EQ(thumb.Pixel(0, 0), 0x3C1E1E1Eu);
    EXPECT_EQ(thumb.Pixel(5, 5), 0u);
}

TEST(RenderFitted, DownscalingAveragesInsteadOfPicking) {
    // One-pixel black and white stripes must become grey, not stay black or white.
    CHBitmap stripes = MakeSolidBitmap(400, 400, 0xFFFFFFFFu);
    for (int y = 0; y < 400; ++y) {
        for (int x = 0; x < 400; x += 2) {
            stripes.Row(y)[x] = kBlack;
        }
    }
    CHBitmap thumb;
    ASSERT_TRUE(thumb.RenderFitted(stripes, 40, 40));
    for (int y = 1; y < 39; ++y) {
        for (int x = 1; x < 39; ++x) {
            uint32_t g = thumb.Pixel(x, y) & 0xFF;
            ASSERT_NEAR(static_cast<int>(g), 128, 1) << x << "," << y;
        }
    }
}

} // namespace
