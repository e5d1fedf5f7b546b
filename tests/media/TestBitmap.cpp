// CHBitmap itself: creation, DIB import, drawing with alpha, saving by extension, JPEG in
// memory, key-colour regions and colourising.
#include "media/CHBitmap.h"
#include "tests/support/TestBitmaps.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>

namespace {

TEST(Bitmap, CreateChecksItsArguments) {
    CHBitmap b;
    EXPECT_FALSE(b.Create(10, 10, 16));
    EXPECT_FALSE(b.Create(0, 10, 24));
    EXPECT_FALSE(b.Create(10, -1, 32));
    EXPECT_FALSE(b.Create(INT_MAX, INT_MAX, 32)); // far above the pixel limit
    EXPECT_TRUE(b.IsEmpty());
    ASSERT_TRUE(b.Create(7, 3, 32));
    EXPECT_EQ(b.Stride(), 28u);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 7; ++x) {
            EXPECT_EQ(b.Pixel(x, y), 0u); // black and fully transparent
        }
    }
    ASSERT_TRUE(b.Create(2, 2, 24));
    EXPECT_EQ(b.Pixel(0, 0), 0xFF000000u); // 24-bit pixels read as opaque
}

TEST(Bitmap, CreateFromDibTurnsBottomUpRowsOver) {
    DibHeader header;
    header.width = 3;
    header.height = 2;
    header.bitCount = 24;
    // Stride 12 (9 bytes padded); the first row in memory is the bottom one.
    std::string bits(24, '\0');
    bits[0] = '\x01', bits[1] = '\x02', bits[2] = '\x03';    // bottom-left: B G R
    bits[12] = '\x10', bits[13] = '\x20', bits[14] = '\x30'; // top-left
    CHBitmap b;
    ASSERT_TRUE(b.CreateFromDib(header, bits.data(), bits.size()));
    EXPECT_EQ(b.Pixel(0, 1), 0xFF030201u);
    EXPECT_EQ(b.Pixel(0, 0), 0xFF302010u);
    // The length must be exactly stride * height.
    EXPECT_FALSE(b.CreateFromDib(header, bits.data(), bits.size() - 1));
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_FALSE(b.CreateFromDib(header, bits.data(), bits.size() + 1));
    // Five pixels: 24-bit rows of 15 bytes padded to 16, 32-bit rows of 20.
    header.width = 5;
    const std::string five(40, '\x7F');
    EXPECT_TRUE(b.CreateFromDib(header, five.data(), 32));
    header.bitCount = 32;
    EXPECT_FALSE(b.CreateFromDib(header, five.data(), 32));
    EXPECT_TRUE(b.CreateFromDib(header, five.data(), 40));
    EXPECT_EQ(b.BitsPerPixel(), 32);
    EXPECT_EQ(b.Pixel(4, 1), 0x7F7F7F7Fu);
    header.compression = 3;
    EXPECT_FALSE(b.CreateFromDib(header, five.data(), 40));
    // Sizes whose byte count overflows 64 bits.
    header.compression = 0;
    header.width = INT_MAX;
    header.height = INT_MAX;
    EXPECT_FALSE(b.CreateFromDib(header, bits.data(), 0));
}

TEST(Bitmap, DrawBlendsAndClips) {
    CHBitmap target = MakeSolidBitmap(10, 10, 0xFF0000FFu);
    // Half-transparent red, premultiplied: 0x80 alpha, 0x80 red.
    CHBitmap glass = MakeSolidBitmap(4, 4, 0x80800000u, 32);
    ASSERT_TRUE(glass.Draw(target, 8, -2, 4, 4, 0, 0, 4, 4));
    EXPECT_EQ(target.Pixel(8, 0), 0xFF80007Fu);
    EXPECT_EQ(target.Pixel(9, 1), 0xFF80007Fu);
    EXPECT_EQ(target.Pixel(8, 2), 0xFF0000FFu);
    EXPECT_EQ(target.Pixel(7, 0), 0xFF0000FFu);
    // Opaque sources are copied.
    CHBitmap green = MakeSolidBitmap(2, 2, 0xFF00FF00u);
    ASSERT_TRUE(green.Draw(target, 0, 0, 2, 2, 0, 0, 2, 2));
    EXPECT_EQ(target.Pixel(1, 1), 0xFF00FF00u);
    // Scaled: a 2 x 2 source filling 6 x 6.
    ASSERT_TRUE(green.Draw(target, 2, 2, 6, 6, 0, 0, 2, 2));
    EXPECT_EQ(target.Pixel(7, 7), 0xFF00FF00u);
    EXPECT_EQ(target.Pixel(8, 8), 0xFF0000FFu);
    // Into pixels owned elsewhere, with padded rows: the padding stays untouched.
    std::vector<uint32_t> surface(4 * 6, 0xFF0000FFu); // 3 x 4 pixels, rows of 6 words
    CHPixelTarget view{surface.data(), 3, 4, 6 * 4, true};
    ASSERT_TRUE(glass.Draw(view, 1, 1, 4, 4, 0, 0, 4, 4));
    ASSERT_TRUE(green.Draw(view, 0, 0, 1, 1, 0, 0, 1, 1));
    EXPECT_EQ(surface[0], 0xFF00FF00u);
    EXPECT_EQ(surface[1], 0xFF0000FFu);
    EXPECT_EQ(surface[6 + 1], 0xFF80007Fu);
    EXPECT_EQ(surface[6 + 2], 0xFF80007Fu);
    EXPECT_EQ(surface[6 + 3], 0xFF0000FFu); // padding
    EXPECT_EQ(surface[6 * 3 + 4], 0xFF0000FFu);
    CHPixelTarget narrow{surface.data(), 3, 4, 8, true};
    EXPECT_FALSE(green.Draw(narrow, 0, 0, 1, 1, 0, 0, 1, 1));
    // Empty bitmaps draw nothing.
    CHBitmap empty;
    EXPECT_FALSE(empty.Draw(target, 0, 0, 1, 1, 0, 0, 1, 1));
    EXPECT_FALSE(green.Draw(empty, 0, 0, 1, 1, 0, 0, 1, 1));
}

TEST(Bitmap, SaveToFileChoosesTheEncoderByExtension) {
    TempDir dir("vellumo-save");
    CHBitmap photo = MakePhotoBitmap(33, 21, 2);
    const std::pair<const char*, std::string> cases[] = {
        {"a.PNG", "\x89PNG"}, {"a.jpg", "\xFF\xD8\xFF"}, {"a.JPEG", "\xFF\xD8\xFF"},
        {"a.gif", "GIF8"},    {"a.tif", "II*"},          {"a.Tiff", "II*"},
        {"a.bmp", "BM"},      {"a.dat", "BM"},
    };
    for (const auto& [name, magic] : cases) {
        ASSERT_TRUE(photo.SaveToFile(dir / name)) << name;
        std::string bytes = ReadTestFile(dir / name);
        EXPECT_EQ(bytes.substr(0, magic.size()), magic) << name;
        CHBitmap back;
        ASSERT_TRUE(back.LoadFromMemory(bytes.data(), bytes.size())) << name;
        EXPECT_EQ(back.Width(), 33);
        EXPECT_EQ(back.Height(), 21);
        const std::string ext = fs::path(name).extension().string();
        if (ext == ".PNG" || ext == ".tif" || ext == ".bmp") {
            EXPECT_LT(Rmse(back, 0, 0, photo, 0, 0, 33, 21), 1e-9) << name; // lossless
        } else {
            EXPECT_LT(Rmse(back, 0, 0, photo, 0, 0, 33, 21), 0.03) << name;
        }
    }
    // 32-bit bitmaps keep their alpha in PNG, TIFF and BMP.
    CHBitmap clear = MakeSolidBitmap(5, 5, 0x40102030u, 32);
    for (const char* name : {"c.png", "c.tif", "c.bmp"}) {
        ASSERT_TRUE(clear.SaveToFile(dir / name));
        std::string bytes = ReadTestFile(dir / name);
        CHBitmap back;
        ASSERT_TRUE(back.LoadFromMemory(bytes.data(), bytes.size())) << name;
        EXPECT_EQ(back.BitsPerPixel(), 32) << name;
        EXPECT_EQ(back.Pixel(2, 2) >> 24, 0x40u) << name;
    }
    CHBitmap empty;
    EXPECT_FALSE(empty.SaveToFile(dir / "e.png"));
    EXPECT_FALSE(photo.SaveToFile(dir / "missing" / "folder" / "x.png"));
}

TEST(Bitmap, EncodeJpegAtFullQualityInMemory) {
    CHBitmap photo = MakePhotoBitmap(64, 48, 6);
    std::string jpeg;
    ASSERT_TRUE(photo.EncodeJpeg(jpeg));
    CHBitmap back;
    ASSERT_TRUE(back.LoadFromMemory(jpeg.data(), jpeg.size()));
    EXPECT_LT(Rmse(back, 0, 0, photo, 0, 0, 64, 48), 0.02);
    std::string lower = EncodeJpegAt(photo, 75);
    EXPECT_GT(jpeg.size(), lower.size());
    CHBitmap empty;
    EXPECT_FALSE(empty.EncodeJpeg(jpeg));
    EXPECT_TRUE(jpeg.empty());
}

TEST(Bitmap, LoadFromStreamReadsTheWholeStream) {
    std::istringstream stream(EncodeJpegAt(MakePhotoBitmap(20, 10), 90));
    CHBitmap b;
    ASSERT_TRUE(b.LoadFromStream(stream));
    EXPECT_EQ(b.Width(), 20);
    std::istringstream junk("junk");
    EXPECT_FALSE(b.LoadFromStream(junk));
    EXPECT_TRUE(b.IsEmpty());
}

TEST(Bitmap, RegionFromMagentaRuns) {
    CHBitmap b = MakeSolidBitmap(6, 3, 0xFFFF00FFu);
    b.Row(0)[2] = 0xFFFE00FFu; // almost magenta is not the key
    b.Row(1)[0] = 0xFF000000u;
    b.Row(1)[5] = 0xFF000000u;
    b.Row(2)[0] = b.Row(2)[1] = b.Row(2)[2] = b.Row(2)[3] = b.Row(2)[4] = b.Row(2)[5] = 0;
    CHRegionRects region;
    ASSERT_TRUE(b.CreateRegionFromKey(region));
    const std::vector<CHRect> expected = {{0, 0, 2, 1}, {3, 0, 6, 1}, {1, 1, 5, 2}};
    EXPECT_EQ(region.rects, expected);
    EXPECT_EQ(region.bounds, (CHRect{0, 0, 6, 2}));
    CHBitmap empty;
    EXPECT_FALSE(empty.CreateRegionFromKey(region));
}

TEST(Bitmap, Colourise) {
    CHBitmap b = MakeSolidBitmap(3, 1, 0xFFFF0000u);
    b.Row(0)[1] = 0xFF646464u; // grey 100
    b.Row(0)[2] = 0xFF0000FFu;
    // Hue +120 turns red into green; grey has no hue to turn.
    CHBitmap turned = MakeSolidBitmap(3, 1, 0);
    ASSERT_TRUE(b.Draw(turned, 0, 0, 3, 1, 0, 0, 3, 1));
    turned.Colourise(120, 0, 0);
    EXPECT_EQ(turned.Pixel(0, 0), 0xFF00FF00u);
    EXPECT_EQ(turned.Pixel(1, 0), 0xFF646464u);
    // Saturation -100: every colour becomes the grey of its lightness.
    CHBitmap grey = MakeSolidBitmap(1, 1, 0xFFFF0000u);
    grey.Colourise(0, -100, 0);
    EXPECT_EQ(grey.Pixel(0, 0), 0xFF7F7F7Fu);
    // Lightness: v + G(255 - v)/200 when brighter, v + Gv/200 when darker.
    CHBitmap light = MakeSolidBitmap(1, 1, 0xFF646464u);
    light.Colourise(0, 0, 50);
    EXPECT_EQ(light.Pixel(0, 0), 0xFF8A8A8Au); // 100 + 50 * 155 / 200 = 138
    CHBitmap dark = MakeSolidBitmap(1, 1, 0xFF646464u);
    dark.Colourise(0, 0, -100);
    EXPECT_EQ(dark.Pixel(0, 0), 0xFF323232u); // 100 - 100 * 100 / 200 = 50
    // Out-of-range arguments are clamped: hue 500 acts as 180.
    CHBitmap a = MakeSolidBitmap(1, 1, 0xFFFF0000u);
    CHBitmap c = MakeSolidBitmap(1, 1, 0xFFFF0000u);
    a.Colourise(500, 0, 0);
    c.Colourise(180, 0, 0);
    EXPECT_EQ(a.Pixel(0, 0), c.Pixel(0, 0));
    // Alpha is left alone in 32-bit bitmaps.
    CHBitmap clear = MakeSolidBitmap(1, 1, 0x80800000u, 32);
    clear.Colourise(120, 0, 0);
    EXPECT_EQ(clear.Pixel(0, 0) >> 24, 0x80u);
    EXPECT_NEAR(int((clear.Pixel(0, 0) >> 8) & 0xFF), 0x80, 1);
}

} // namespace
