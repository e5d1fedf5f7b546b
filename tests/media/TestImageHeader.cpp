// Image sizes from file headers: real files written by ImageMagick, and hand-laid headers for
// the variants and the broken cases.
#include "media/ImageHeader.h"
#include "tests/media/TestExifBuilder.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string LittleEndian32(uint32_t v) {
    return TiffBuilder().U32(v);
}

std::string BmpHeader(uint32_t infoSize, std::string sides) {
    std::string out = "BM" + std::string(12, '\0') + LittleEndian32(infoSize) + sides;
    return out + std::string(40, '\0');
}

class ImageHeaderFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir("vellumo-image-header");
        // 37 x 23 in every format, plus a progressive JPEG and an old-style BMP.
        std::string command =
            "cd '" + s_dir->Path().string() +
            "' && convert -size 37x23 xc:red a.jpg && convert -size 37x23 "
            "xc:red -interlace JPEG p.jpg && convert -size 37x23 xc:red a.png && "
            "convert -size 37x23 xc:red a.gif && convert -size 37x23 xc:red a.bmp "
            "&& convert -size 37x23 xc:red BMP2:b2.bmp && convert -size 37x23 "
            "xc:red a.tif && convert -size 37x23 xc:red -endian MSB m.tif";
        s_converted = std::system(command.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    static TempDir* s_dir;
    static bool s_converted;
};

TempDir* ImageHeaderFileTest::s_dir = nullptr;
bool ImageHeaderFileTest::s_converted = false;

} // namespace

TEST_F(ImageHeaderFileTest, EveryFormatGivesItsSize) {
    ASSERT_TRUE(s_converted) << "ImageMagick's convert is needed";
    struct Expected {
        const char* name;
        ImageFormat format;
    } files[] = {{"a.jpg", ImageFormat::Jpeg}, {"p.jpg", ImageFormat::Jpeg},
                 {"a.png", ImageFormat::Png},  {"a.gif", ImageFormat::Gif},
                 {"a.bmp", ImageFormat::Bmp},  {"b2.bmp", ImageFormat::Bmp},
                 {"a.tif", ImageFormat::Tiff}, {"m.tif", ImageFormat::Tiff}};
    for (const auto& file : files) {
        std::string bytes = ReadTestFile(*s_dir / file.name);
        ASSERT_FALSE(bytes.empty()) << file.name;
        ImageHeader header;
        ASSERT_TRUE(ReadImageHeader(bytes, header)) << file.name;
        EXPECT_EQ(header.format, file.format) << file.name;
        EXPECT_EQ(header.width, 37) << file.name;
        EXPECT_EQ(header.height, 23) << file.name;
        EXPECT_FALSE(header.needsMoreBytes) << file.name;
    }
}

TEST(ImageHeaderTest, JpegFrameHeadersOfEveryKind) {
    for (uint8_t marker : {0xC0, 0xC1, 0xC2, 0xC3, 0xC5, 0xC7, 0xC9, 0xCB, 0xCD, 0xCF}) {
        std::string jpeg = std::string("\xFF\xD8", 2) + JpegFrameHeader(4000, 3000, marker);
        int width = 0;
        int height = 0;
        ASSERT_TRUE(ReadImageSize(jpeg, width, height)) << int{marker};
        EXPECT_EQ(width, 4000);
        EXPECT_EQ(height, 3000);
    }
    // DHT, JPG and DAC sit in the same range but carry no size.
    for (uint8_t marker : {0xC4, 0xC8, 0xCC}) {
        std::string jpeg = std::string("\xFF\xD8", 2) + JpegFrameHeader(4000, 3000, marker);
        int width = 0;
        int height = 0;
        EXPECT_FALSE(ReadImageSize(jpeg, width, height)) << int{marker};
    }
}

TEST(ImageHeaderTest, JpegSegmentsAreSkippedByLengthNotBySearching) {
    // The embedded thumbnail's frame header inside APP1 must not be taken for the image's.
    std::string thumbnail = std::string("\xFF\xD8", 2) + JpegFrameHeader(160, 120);
    std::string jpeg = std::string("\xFF\xD8", 2) + JpegSegment(0xE1, "Exif\0\0" + thumbnail) +
                       // Fill bytes before a marker and stray bytes between segments.
                       std::string("\xFF\xFF\xFF", 3) + JpegSegment(0xDB, std::string(64, 'q')) +
                       "junk" + JpegFrameHeader(800, 600);
    int width = 0;
    int height = 0;
    ASSERT_TRUE(ReadImageSize(jpeg, width, height));
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 600);
}

TEST(ImageHeaderTest, ExifBlockOfAJpegIsTheFirstExifApp1) {
    std::string jpeg = std::string("\xFF\xD8", 2) + JpegSegment(0xE0, "JFIF") +
                       JpegSegment(0xE1, "http://ns.adobe.com/xap/1.0/") +
                       JpegSegment(0xE1, std::string("Exif\0\0FIRST", 11)) +
                       JpegSegment(0xE1, std::string("Exif\0\0SECOND", 12)) +
                       JpegFrameHeader(8, 8) + JpegSegment(0xE1, std::string("Exif\0\0LATE", 10));
    ImageHeader header;
    ASSERT_TRUE(ReadImageHeader(jpeg, header));
    EXPECT_EQ(header.exif, "FIRST");
}

TEST(ImageHeaderTest, JpegWithoutFrameHeaderIsNotAnImage) {
    int width = 7;
    int height = 7;
    std::string scanFirst =
        std::string("\xFF\xD8", 2) + JpegSegment(0xDA, "scan") + JpegFrameHeader(8, 8);
    EXPECT_FALSE(ReadImageSize(scanFirst, width, height));
    EXPECT_FALSE(ReadImageSize(std::string("\xFF\xD8\xFF\xD9", 4), width, height));
    // A segment length below two would never advance.
    EXPECT_FALSE(ReadImageSize(std::string("\xFF\xD8\xFF\xE0\x00\x01", 6) + JpegFrameHeader(8, 8),
                               width, height));
    // Zero sides (a height left to a later DNL marker) are refused.
    EXPECT_FALSE(ReadImageSize(std::string("\xFF\xD8", 2) + JpegFrameHeader(8, 0), width, height));
    EXPECT_EQ(width, 7);
    EXPECT_EQ(height, 7);
}

TEST(ImageHeaderTest, PrefixOfALongerFileAsksForMoreBytes) {
    std::string big(70000, 'x');
    std::string jpeg = std::string("\xFF\xD8", 2) + JpegSegment(0xE2, big.substr(0, 65000)) +
                       JpegSegment(0xE2, big.substr(0, 65000)) + JpegFrameHeader(640, 480);
    ImageHeader header;
    EXPECT_FALSE(ReadImageHeader(std::string_view(jpeg).substr(0, 64 * 1024), header));
    EXPECT_TRUE(header.needsMoreBytes);
    EXPECT_TRUE(ReadImageHeader(jpeg, header));
    EXPECT_FALSE(header.needsMoreBytes);

    // An APP1 "Exif" cut short is asked for too, not handed out in part.
    std::string exif = JpegWithExif(std::string(100, 'e'), 10, 10);
    EXPECT_FALSE(ReadImageHeader(std::string_view(exif).substr(0, 50), header));
    EXPECT_TRUE(header.needsMoreBytes);

    // Plain garbage does not.
    EXPECT_FALSE(ReadImageHeader("this is not an image at all", header));
    EXPECT_FALSE(header.needsMoreBytes);
}

TEST(ImageHeaderTest, PngSizeAndExifChunk) {
    std::string png = PngWithExif("II*\0", 1, 2);
    ImageHeader header;
    ASSERT_TRUE(ReadImageHeader(png, header));
    EXPECT_EQ(header.width, 1);
    EXPECT_EQ(header.height, 2);
    EXPECT_EQ(header.exif, "II*");

    // Sides above 2^31 - 1 are invalid.
    std::string huge = PngWithExif("", 1, 2);
    huge[16] = '\x80';
    EXPECT_FALSE(ReadImageHeader(huge, header));

    // eXIf after IDAT is not looked for; a lying chunk length ends the search safely.
    std::string late = std::string("\x89PNG\r\n\x1a\n", 8) +
                       PngChunk("IHDR", std::string("\0\0\0\x05\0\0\0\x06\x08\x02\0\0\0", 13)) +
                       PngChunk("IDAT", "x") + PngChunk("eXIf", "II*\0");
    ASSERT_TRUE(ReadImageHeader(late, header));
    EXPECT_TRUE(header.exif.empty());
    std::string lying = std::string("\x89PNG\r\n\x1a\n", 8) +
                        PngChunk("IHDR", std::string("\0\0\0\x05\0\0\0\x06\x08\x02\0\0\0", 13)) +
                        std::string("\x7F\xFF\xFF\xF0tEXt", 8);
    ASSERT_TRUE(ReadImageHeader(lying, header));
    EXPECT_TRUE(header.exif.empty());
    EXPECT_TRUE(header.needsMoreBytes);
}

TEST(ImageHeaderTest, BmpHeaderVariants) {
    int width = 0;
    int height = 0;
    // Rows stored top-down have a negative height.
    ASSERT_TRUE(
        ReadImageSize(BmpHeader(40, LittleEndian32(300) + LittleEndian32(-200)), width, height));
    EXPECT_EQ(width, 300);
    EXPECT_EQ(height, 200);
    // The OS/2 header has 16-bit sides.
    ASSERT_TRUE(ReadImageSize(BmpHeader(12, std::string("\x10\x00\x20\x00", 4)), width, height));
    EXPECT_EQ(width, 16);
    EXPECT_EQ(height, 32);
    EXPECT_FALSE(
        ReadImageSize(BmpHeader(40, LittleEndian32(-5) + LittleEndian32(5)), width, height));
    EXPECT_FALSE(ReadImageSize(BmpHeader(40, LittleEndian32(5) + LittleEndian32(0x80000000)), width,
                               height));
    EXPECT_FALSE(ReadImageSize(BmpHeader(7, LittleEndian32(5) + LittleEndian32(5)), width, height));
}

TEST(ImageHeaderTest, GifUsesTheLogicalScreen) {
    int width = 0;
    int height = 0;
    ASSERT_TRUE(ReadImageSize(std::string("GIF89a\x40\x01\xF0\x00", 10), width, height));
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    EXPECT_FALSE(ReadImageSize(std::string("GIF89a\x40\x01", 8), width, height));
    EXPECT_FALSE(ReadImageSize(std::string("GIF90a\x40\x01\xF0\x00", 10), width, height));
}

TEST(ImageHeaderTest, TiffSizeFromTheFirstDirectory) {
    for (bool bigEndian : {false, true}) {
        TiffBuilder tiff(bigEndian);
        // Width as SHORT, height as LONG: both are allowed.
        tiff.Short(0x0100, 1200).Long(0x0101, 70000);
        ImageHeader header;
        std::string bytes = tiff.Build();
        ASSERT_TRUE(ReadImageHeader(bytes, header)) << bigEndian;
        EXPECT_EQ(header.width, 1200);
        EXPECT_EQ(header.height, 70000);
        EXPECT_EQ(header.exif.size(), bytes.size());
    }
    ImageHeader header;
    EXPECT_FALSE(ReadImageHeader(TiffBuilder().Short(0x0100, 5).Build(), header));
    EXPECT_FALSE(header.needsMoreBytes);
    // A directory past the end of what was read may be further on in the file.
    std::string cut = TiffBuilder().Short(0x0100, 5).Short(0x0101, 5).Build();
    EXPECT_FALSE(ReadImageHeader(std::string_view(cut).substr(0, 12), header));
    EXPECT_TRUE(header.needsMoreBytes);
}
