// Drawing skin records: nine-slice geometry at and below the margin sizes, foreground
// placement, colour-keyed pieces and the double-resolution pictures.

#include "media/CHPngEncoder.h"
#include "tests/support/TestBitmaps.h"
#include "ui/framework/UISkinBitmap.h"
#include "ui/framework/UISkinDraw.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// A transparent ARGB32 canvas with pixel access.
class Canvas {
public:
    Canvas(int w, int h) : m_surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)) {
        m_cr = cairo_create(m_surface);
    }
    ~Canvas() {
        cairo_destroy(m_cr);
        cairo_surface_destroy(m_surface);
    }
    cairo_t* cr() { return m_cr; }
    void Fill(double r, double g, double b) {
        cairo_set_source_rgb(m_cr, r, g, b);
        cairo_paint(m_cr);
    }
    uint32_t At(int x, int y) {
        cairo_surface_flush(m_surface);
        const unsigned char* data = cairo_image_surface_get_data(m_surface);
        int stride = cairo_image_surface_get_stride(m_surface);
        return reinterpret_cast<const uint32_t*>(data + y * stride)[x];
    }
    int Width() { return cairo_image_surface_get_width(m_surface); }
    int Height() { return cairo_image_surface_get_height(m_surface); }

private:
    cairo_surface_t* m_surface;
    cairo_t* m_cr;
};

// A 9 x 9 opaque 24-bit picture of nine 3 x 3 blocks, each its own colour.
constexpr uint32_t kBlock[3][3] = {{0xFF100000, 0xFF200000, 0xFF300000},
                                   {0xFF001000, 0xFF002000, 0xFF003000},
                                   {0xFF000010, 0xFF000020, 0xFF000030}};
enum { TL, T, TR };

UISkinBitmap NineBlocks() {
    UISkinBitmap bitmap;
    EXPECT_TRUE(bitmap.Create(9, 9, 24));
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 9; ++x) {
            bitmap.Row(y)[x] = kBlock[y / 3][x / 3];
        }
    }
    return bitmap;
}

SkinImageStyle NineStyle(CHBitmap* bitmap, int l, int t, int r, int b) {
    SkinImageStyle style;
    style.bgBitmap = bitmap;
    style.bgW = style.bgH = 9;
    style.marginLeft = l, style.marginTop = t, style.marginRight = r, style.marginBottom = b;
    return style;
}

// Pixels of dest painted with the expected block, and the ring around dest untouched.
void ExpectBlocks(Canvas& canvas, const CHRect& dest, int cutX0, int cutX1, int cutY0, int cutY1) {
    for (int y = dest.top - 1; y <= dest.bottom; ++y) {
        for (int x = dest.left - 1; x <= dest.right; ++x) {
            bool inside = x >= dest.left && x < dest.right && y >= dest.top && y < dest.bottom;
            if (!inside) {
                EXPECT_EQ(canvas.At(x, y), 0u) << "outside at " << x << "," << y;
                continue;
            }
            int col = x < cutX0 ? 0 : x < cutX1 ? 1 : 2;
            int row = y < cutY0 ? 0 : y < cutY1 ? 1 : 2;
            EXPECT_EQ(canvas.At(x, y), kBlock[row][col]) << x << "," << y;
        }
    }
}

TEST(SkinDraw, NineSliceKeepsCornersAndStretchesTheRest) {
    UISkinBitmap bitmap = NineBlocks();
    SkinImageStyle style = NineStyle(&bitmap, 3, 3, 3, 3);
    Canvas canvas(64, 64);
    DrawImageStyle(canvas.cr(), {10, 10, 30, 22}, style);
    ExpectBlocks(canvas, {10, 10, 30, 22}, 13, 27, 13, 19);
}

TEST(SkinDraw, NineSliceAtExactlyTheMarginSizeDrawsOnlyCorners) {
    UISkinBitmap bitmap = NineBlocks();
    Canvas canvas(64, 64);
    DrawImageStyle(canvas.cr(), {10, 10, 16, 16}, NineStyle(&bitmap, 3, 3, 3, 3));
    ExpectBlocks(canvas, {10, 10, 16, 16}, 13, 13, 13, 13);
}

TEST(SkinDraw, NineSliceBelowTheMarginsShrinksThemToFit) {
    UISkinBitmap bitmap = NineBlocks();
    {
        Canvas canvas(64, 64);
        DrawImageStyle(canvas.cr(), {10, 10, 14, 14}, NineStyle(&bitmap, 3, 3, 3, 3));
        ExpectBlocks(canvas, {10, 10, 14, 14}, 12, 12, 12, 12);
    }
    {
        // Narrower than the margins but tall: the columns shrink, the rows keep their size.
        Canvas canvas(64, 64);
        DrawImageStyle(canvas.cr(), {10, 10, 12, 30}, NineStyle(&bitmap, 3, 3, 3, 3));
        ExpectBlocks(canvas, {10, 10, 12, 30}, 11, 11, 13, 27);
    }
    {
        // Unequal margins shrink in proportion: 6 and 3 into 3 pixels give 2 and 1.
        Canvas canvas(64, 64);
        DrawImageStyle(canvas.cr(), {10, 10, 13, 13}, NineStyle(&bitmap, 6, 6, 3, 3));
        EXPECT_EQ(canvas.At(10, 10), kBlock[0][0]);
        EXPECT_EQ(canvas.At(12, 10), kBlock[0][2]);
        EXPECT_EQ(canvas.At(10, 12), kBlock[2][0]);
        EXPECT_EQ(canvas.At(12, 12), kBlock[2][2]);
        EXPECT_EQ(canvas.At(13, 13), 0u);
    }
    {
        // One pixel, empty and inverted destinations: nothing outside, no failure.
        Canvas canvas(32, 32);
        DrawImageStyle(canvas.cr(), {5, 5, 6, 6}, NineStyle(&bitmap, 3, 3, 3, 3));
        EXPECT_EQ(canvas.At(5, 5), kBlock[2][2]); // the far margin keeps the odd pixel
        DrawImageStyle(canvas.cr(), {20, 20, 20, 30}, NineStyle(&bitmap, 3, 3, 3, 3));
        DrawImageStyle(canvas.cr(), {25, 25, 20, 20}, NineStyle(&bitmap, 3, 3, 3, 3));
        EXPECT_EQ(canvas.At(20, 20), 0u);
        EXPECT_EQ(canvas.At(22, 22), 0u);
    }
}

TEST(SkinDraw, ZeroMarginsStretchTheWholeSourceAndOversizedMarginsStayInside) {
    UISkinBitmap bitmap = NineBlocks();
    Canvas canvas(64, 64);
    DrawImageStyle(canvas.cr(), {0, 0, 18, 18}, NineStyle(&bitmap, 0, 0, 0, 0));
    EXPECT_EQ(canvas.At(0, 0), kBlock[0][0]);
    EXPECT_EQ(canvas.At(9, 9), kBlock[1][1]);
    EXPECT_EQ(canvas.At(17, 17), kBlock[2][2]);
    // Margins larger than the source are cut to it: no piece reads outside the picture.
    Canvas other(64, 64);
    DrawImageStyle(other.cr(), {0, 0, 30, 30}, NineStyle(&bitmap, 50, -4, 50, 2000));
    EXPECT_EQ(other.At(0, 29), kBlock[2][0]);
    // A source rectangle reaching outside the picture is clipped to it.
    Canvas third(32, 32);
    DrawBitmap(bitmap, third.cr(), {0, 0, 9, 9}, {-3, -3, 6, 6});
    EXPECT_EQ(third.At(0, 0), kBlock[0][0]);
    DrawBitmap(bitmap, third.cr(), {10, 10, 20, 20}, {20, 20, 30, 30});
    EXPECT_EQ(third.At(15, 15), 0u);
}

TEST(SkinDraw, ForegroundsAlignInsideTheDestination) {
    CHBitmap red = MakeSolidBitmap(4, 4, 0xFFFF0000, 32);
    SkinImageStyle style;
    style.fgBitmap = &red;
    style.fgW = style.fgH = 4;
    const CHRect dest{50, 60, 90, 100};
    struct Case {
        int align, x, y;
    } cases[] = {{1, 50, 60},  {2, 68, 60},  {4, 86, 60},   {8, 50, 78}, {16, 86, 78},
                 {32, 50, 96}, {64, 68, 96}, {128, 86, 96}, {0, 68, 78}, {3, 68, 78}};
    for (const Case& c : cases) {
        Canvas canvas(128, 128);
        style.align = c.align;
        style.offsetX = 2;
        style.offsetY = -1;
        DrawImageStyle(canvas.cr(), dest, style);
        int x = c.x + 2, y = c.y - 1;
        EXPECT_EQ(canvas.At(x, y), 0xFFFF0000u) << "align " << c.align;
        EXPECT_EQ(canvas.At(x + 3, y + 3), 0xFFFF0000u) << "align " << c.align;
        EXPECT_EQ(canvas.At(x - 1, y), 0u) << "align " << c.align;
        EXPECT_EQ(canvas.At(x, y - 1), 0u) << "align " << c.align;
        EXPECT_EQ(canvas.At(x + 4, y + 4), 0u) << "align " << c.align;
    }
    // Absurd offsets draw nothing instead of overflowing.
    Canvas canvas(16, 16);
    style.offsetX = INT32_MAX;
    DrawImageStyle(canvas.cr(), dest, style);
}

TEST(SkinDraw, ColourKeyedPiecesScaleWithoutAKeyFringe) {
    // Magenta around a blue square, enlarged five times over white.
    UISkinBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(10, 10, 24));
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            bool inner = x >= 3 && x < 7 && y >= 3 && y < 7;
            bitmap.Row(y)[x] = inner ? 0xFF0000FF : 0xFFFF00FF;
        }
    }
    const SkinColor magenta = SkinRgb(255, 0, 255);
    Canvas canvas(60, 60);
    canvas.Fill(1, 1, 1);
    DrawBitmap(bitmap, canvas.cr(), {5, 5, 55, 55}, {0, 0, 10, 10}, magenta);
    int blue = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 60; ++x) {
            uint32_t p = canvas.At(x, y);
            int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF;
            // Between white and blue red equals green; any key colour shows as red above green.
            ASSERT_LE(r - g, 1) << x << "," << y;
            blue += p == 0xFF0000FF;
        }
    }
    EXPECT_GE(blue, 16 * 16); // the square itself: 20 x 20, less its blended rim
    EXPECT_EQ(canvas.At(6, 6), 0xFFFFFFFFu);
    // The keyed copy is made once per key and kept.
    EXPECT_EQ(bitmap.KeyedCopy(magenta), bitmap.KeyedCopy(magenta));
    // A plain bitmap (not from the skin cache) is keyed on the fly the same way.
    CHBitmap plain;
    ASSERT_TRUE(plain.Create(2, 1, 24));
    plain.Row(0)[0] = 0xFFFF00FF;
    plain.Row(0)[1] = 0xFF00FF00;
    Canvas small(4, 4);
    DrawBitmap(plain, small.cr(), {0, 0, 2, 1}, {0, 0, 2, 1}, magenta);
    EXPECT_EQ(small.At(0, 0), 0u);
    EXPECT_EQ(small.At(1, 0), 0xFF00FF00u);
}

TEST(SkinDraw, NearestScalingKeepsHardEdges) {
    CHBitmap modules;
    ASSERT_TRUE(modules.Create(2, 1, 24));
    modules.Row(0)[0] = 0xFF000000;
    modules.Row(0)[1] = 0xFFFFFFFF;
    Canvas canvas(21, 3);
    DrawBitmap(modules, canvas.cr(), {0, 0, 21, 3}, {0, 0, 2, 1}, kNoColorKey,
               SkinScaling::Nearest);
    for (int x = 0; x < 21; ++x) {
        uint32_t p = canvas.At(x, 1);
        EXPECT_TRUE(p == 0xFF000000u || p == 0xFFFFFFFFu) << x;
    }
    // The default smooth scaling blends across the edge.
    Canvas smooth(21, 3);
    DrawBitmap(modules, smooth.cr(), {0, 0, 21, 3}, {0, 0, 2, 1});
    EXPECT_NE(smooth.At(10, 1), 0xFF000000u);
    EXPECT_NE(smooth.At(10, 1), 0xFFFFFFFFu);
}

TEST(SkinDraw, DoubleScaleTargetsUseTheDoubleResolutionTwin) {
    auto png = [](const CHBitmap& b) {
        std::string out;
        EXPECT_TRUE(CHPngEncoder::Encode(b, out));
        return out;
    };
    UISkinBitmap bitmap;
    CHBitmap red = MakeSolidBitmap(4, 4, 0xFFFF0000, 24);
    std::string redPng = png(red);
    ASSERT_TRUE(bitmap.LoadFromMemory(redPng.data(), redPng.size()));
    bitmap.SetHiDpiBytes(png(MakeSolidBitmap(8, 8, 0xFF00FF00, 24)));
    Canvas one(8, 8);
    DrawBitmap(bitmap, one.cr(), {0, 0, 4, 4}, {0, 0, 4, 4});
    EXPECT_EQ(one.At(1, 1), 0xFFFF0000u);
    Canvas two(8, 8);
    cairo_scale(two.cr(), 2, 2);
    DrawBitmap(bitmap, two.cr(), {0, 0, 4, 4}, {0, 0, 4, 4});
    EXPECT_EQ(two.At(7, 7), 0xFF00FF00u);
    // A twin that is not exactly twice the size is not used.
    bitmap.SetHiDpiBytes(png(MakeSolidBitmap(9, 8, 0xFF00FF00, 24)));
    Canvas three(8, 8);
    cairo_scale(three.cr(), 2, 2);
    DrawBitmap(bitmap, three.cr(), {0, 0, 4, 4}, {0, 0, 4, 4});
    EXPECT_EQ(three.At(7, 7), 0xFFFF0000u);
}

} // namespace
