// Decoding every supported format, checked against ImageMagick's reading of the same file, and
// the decoders' own choices: DCT scaling, EXIF orientation, alpha.
#include "media/CHBitmap.h"
#include "media/CHImageDecoder.h"
#include "media/CHOrientation.h"
#include "tests/support/TestBitmaps.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

// Writes a bitmap as a binary PPM for ImageMagick to start from.
void WritePpm(const fs::path& file, const CHBitmap& bitmap) {
    std::ofstream out(file, std::ios::binary);
    out << "P6\n" << bitmap.Width() << " " << bitmap.Height() << "\n255\n";
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            uint32_t p = bitmap.Pixel(x, y);
            char rgb[3] = {char(p >> 16), char(p >> 8), char(p)};
            out.write(rgb, 3);
        }
    }
}

int MaxDifference(const CHBitmap& a, const CHBitmap& b) {
    int worst = 0;
    for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) {
            uint32_t p = a.Pixel(x, y);
            uint32_t q = b.Pixel(x, y);
            for (int s = 0; s < 24; s += 8) {
                worst = std::max(worst, std::abs(int((p >> s) & 0xFF) - int((q >> s) & 0xFF)));
            }
        }
    }
    return worst;
}

class DecodeFormats : public ::testing::Test {
protected:
    void SetUp() override {
        if (ImageMagickConvert().empty()) {
            GTEST_SKIP() << "ImageMagick is not installed";
        }
        source = MakePhotoBitmap(67, 45, 9); // odd sizes: row padding and partial bytes
        WritePpm(dir / "source.ppm", source);
    }

    // Converts the source with the given options, decodes the result with ours and with
    // ImageMagick, and returns the largest channel difference.
    int Compare(const std::vector<std::string>& options, const std::string& target,
                int expectBits = 24) {
        std::vector<std::string> args{(dir / "source.ppm").string()};
        args.insert(args.end(), options.begin(), options.end());
        const std::string file = (dir / "converted").string();
        args.push_back(target + file);
        EXPECT_TRUE(RunConvert(args)) << target;
        EXPECT_TRUE(RunConvert({file, "-background", "black", "-flatten", "-depth", "8",
                                (dir / "reference.ppm").string()}));
        CHBitmap reference;
        EXPECT_TRUE(ReadPpm(dir / "reference.ppm", reference));
        std::string bytes = ReadTestFile(file);
        CHBitmap ours;
        EXPECT_TRUE(ours.LoadFromMemory(bytes.data(), bytes.size())) << target;
        if (ours.IsEmpty() || reference.IsEmpty()) {
            return 256;
        }
        EXPECT_EQ(ours.Width(), reference.Width());
        EXPECT_EQ(ours.Height(), reference.Height());
        EXPECT_EQ(ours.BitsPerPixel(), expectBits) << target;
        return MaxDifference(ours, reference);
    }

    TempDir dir{"vellumo-decode"};
    CHBitmap source;
};

TEST_F(DecodeFormats, Jpeg) {
    EXPECT_LE(Compare({"-quality", "90"}, "jpg:"), 1);
    EXPECT_LE(Compare({"-quality", "90", "-interlace", "JPEG"}, "jpg:"), 1);
    EXPECT_LE(Compare({"-colorspace", "gray"}, "jpg:"), 1);
    EXPECT_LE(Compare({"-colorspace", "CMYK"}, "jpg:"), 2);
}

TEST_F(DecodeFormats, Png) {
    EXPECT_EQ(Compare({}, "png24:"), 0);
    EXPECT_EQ(Compare({"-interlace", "PNG"}, "png24:"), 0);
    EXPECT_EQ(Compare({"-colors", "16"}, "png8:"), 0);
    EXPECT_LE(Compare({"-colorspace", "gray", "-depth", "16"}, "png:"), 1);
    EXPECT_LE(Compare({"-depth", "16"}, "png48:"), 1);
    EXPECT_EQ(Compare({"-monochrome"}, "png:"), 0);
}

TEST_F(DecodeFormats, Gif) {
    EXPECT_EQ(Compare({"-colors", "64"}, "gif:"), 0);
    EXPECT_EQ(Compare({"-colors", "64", "-interlace", "GIF"}, "gif:"), 0);
}

TEST_F(DecodeFormats, Tiff) {
    EXPECT_EQ(Compare({"-compress", "lzw"}, "tiff:"), 0);
    EXPECT_EQ(Compare({"-compress", "zip", "-define", "tiff:tile-geometry=16x16"}, "tiff:"), 0);
    EXPECT_EQ(Compare({"-compress", "none", "-colorspace", "gray"}, "tiff:"), 0);
    EXPECT_LE(Compare({"-depth", "16"}, "tiff:"), 1);
}

TEST_F(DecodeFormats, Bmp) {
    EXPECT_EQ(Compare({}, "bmp3:"), 0);
    EXPECT_EQ(Compare({"-type", "palette"}, "bmp3:"), 0);
    EXPECT_EQ(Compare({"-colors", "12"}, "bmp3:"), 0);
    EXPECT_EQ(Compare({"-type", "palette", "-compress", "rle"}, "bmp3:"), 0);
    EXPECT_EQ(Compare({"-monochrome"}, "bmp3:"), 0);
    // Five and six bits widen to eight with at most one step of rounding apart.
    EXPECT_LE(Compare({"-define", "bmp:subtype=RGB565"}, "bmp:"), 1);
    EXPECT_LE(Compare({"-alpha", "on", "-channel", "A", "-evaluate", "set", "50%", "+channel"},
                      "bmp:", 32),
              1);
}

TEST(DecodeOrientation, ReadFromTheExifBlock) {
    const std::string jpeg = EncodeJpegAt(MakePhotoBitmap(16, 8), 90);
    EXPECT_EQ(CHOrientation::FromJpeg(jpeg), 1);
    for (int o = 1; o <= 8; ++o) {
        EXPECT_EQ(CHOrientation::FromJpeg(WithOrientation(jpeg, o)), o);
    }
    EXPECT_EQ(CHOrientation::FromJpeg(WithOrientation(jpeg, 9)), 1);
    EXPECT_EQ(CHOrientation::FromJpeg(WithOrientation(jpeg, 0)), 1);
    // Big-endian TIFF with one SHORT entry.
    const std::string mm("MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);
    EXPECT_EQ(CHOrientation::FromTiff(mm), 6);
    EXPECT_EQ(CHOrientation::FromTiff(mm.substr(0, 20)), 1);
    EXPECT_EQ(CHOrientation::FromTiff("II"), 1);
}

TEST(DecodeOrientation, TurnsTheStoredPixelsUpright) {
    // a b c
    // d e f
    CHBitmap stored;
    ASSERT_TRUE(stored.Create(3, 2, 24));
    const uint32_t a = 0xA, b = 0xB, c = 0xC, d = 0xD, e = 0xE, f = 0xF;
    stored.Row(0)[0] = a, stored.Row(0)[1] = b, stored.Row(0)[2] = c;
    stored.Row(1)[0] = d, stored.Row(1)[1] = e, stored.Row(1)[2] = f;
    const std::vector<std::vector<std::vector<uint32_t>>> expected = {
        {{a, b, c}, {d, e, f}},   // 1
        {{c, b, a}, {f, e, d}},   // 2 mirrored
        {{f, e, d}, {c, b, a}},   // 3 upside down
        {{d, e, f}, {a, b, c}},   // 4 flipped
        {{a, d}, {b, e}, {c, f}}, // 5 transposed
        {{d, a}, {e, b}, {f, c}}, // 6 turned clockwise
        {{f, c}, {e, b}, {d, a}}, // 7 transverse
        {{c, f}, {b, e}, {a, d}}, // 8 turned counter-clockwise
    };
    for (int o = 1; o <= 8; ++o) {
        CHBitmap upright;
        ASSERT_TRUE(CHOrientation::Apply(stored, o, upright));
        const auto& rows = expected[o - 1];
        ASSERT_EQ(upright.Height(), int(rows.size())) << o;
        ASSERT_EQ(upright.Width(), int(rows[0].size())) << o;
        for (int y = 0; y < upright.Height(); ++y) {
            for (int x = 0; x < upright.Width(); ++x) {
                EXPECT_EQ(upright.Row(y)[x], rows[y][x]) << "orientation " << o;
            }
        }
    }
}

TEST(DecodeOrientation, SixTurnsALandscapePhotoUpright) {
    const std::string jpeg = WithOrientation(EncodeJpegAt(MakePhotoBitmap(4000, 3000), 80), 6);
    CHBitmap thumb;
    // Height 400 with a free width: 300 wide only if the photo is now 3000 x 4000.
    ASSERT_TRUE(thumb.DecodeThumbnail(jpeg.data(), jpeg.size(), -1, 400));
    EXPECT_EQ(thumb.Width(), 300);
    EXPECT_EQ(thumb.Height(), 400);
}

TEST(DecodeJpeg, ShrinksWithTheSmallestCoveringDctScale) {
    const std::string jpeg = EncodeJpegAt(MakePhotoBitmap(4032, 3024), 85);
    auto decodeAt = [&](double scale) {
        DecodeRequest request;
        request.minScale = [scale](int, int, int) { return scale; };
        DecodedImage image;
        EXPECT_TRUE(CHImageDecoder::Decode(jpeg, request, image));
        EXPECT_EQ(image.fullWidth, 4032);
        EXPECT_EQ(image.fullHeight, 3024);
        return std::make_pair(image.bitmap.Width(), image.bitmap.Height());
    };
    EXPECT_EQ(decodeAt(150.0 / 3024), std::make_pair(504, 378));
    EXPECT_EQ(decodeAt(0.125), std::make_pair(504, 378));
    EXPECT_EQ(decodeAt(0.126), std::make_pair(1008, 756));
    EXPECT_EQ(decodeAt(0.3), std::make_pair(1512, 1134));
    EXPECT_EQ(decodeAt(2.0), std::make_pair(4032, 3024));

    // A 150 x 150 thumbnail of it: decoded at 1/8, then the centre 378 square shrunk.
    CHBitmap thumb;
    ASSERT_TRUE(thumb.DecodeThumbnail(jpeg.data(), jpeg.size(), 150, 150));
    EXPECT_EQ(thumb.Width(), 150);
    EXPECT_EQ(thumb.Height(), 150);
}

TEST(DecodeAlpha, TransparencyMakesA32BitBitmap) {
    TempDir dir("vellumo-alpha");
    CHBitmap clear = MakeSolidBitmap(8, 8, 0x80400000u, 32); // half-transparent red
    ASSERT_TRUE(clear.SaveToFile(dir / "a.png"));
    std::string bytes = ReadTestFile(dir / "a.png");
    CHBitmap back;
    ASSERT_TRUE(back.LoadFromMemory(bytes.data(), bytes.size()));
    EXPECT_EQ(back.BitsPerPixel(), 32);
    EXPECT_EQ(back.Pixel(3, 3), 0x80400000u);
    // JPEG thumbnails of it show the colour over black.
    CHBitmap thumb;
    ASSERT_TRUE(thumb.DecodeThumbnail(bytes.data(), bytes.size(), 8, 8));
    std::string jpeg;
    ASSERT_TRUE(thumb.EncodeJpeg(jpeg));
    CHBitmap decoded;
    ASSERT_TRUE(decoded.LoadFromMemory(jpeg.data(), jpeg.size()));
    EXPECT_NEAR(int((decoded.Pixel(4, 4) >> 16) & 0xFF), 0x40, 3);
}

} // namespace
