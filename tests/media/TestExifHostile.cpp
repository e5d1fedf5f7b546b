// Hostile and broken EXIF blocks: loops, truncation, huge counts, offsets past the end, wrong
// types. The reader must finish, stay inside its input and keep what can be read.
#include "media/CHTiffReader.h"
#include "media/ExifReader.h"
#include "media/ImageHeader.h"
#include "media/TextCodec.h"
#include "tests/media/TestExifBuilder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::string Le16(uint16_t v) {
    return TiffBuilder().U16(v);
}
std::string Le32(uint32_t v) {
    return TiffBuilder().U32(v);
}

std::string IfdEntry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    return Le16(tag) + Le16(type) + Le32(count) + Le32(value);
}

// Every text in a successfully read object must be valid UTF-8.
void ExpectValidTexts(const Json::Value& exif) {
    for (const auto& name : exif.getMemberNames()) {
        if (exif[name].isString()) {
            std::string text = exif[name].asString();
            EXPECT_EQ(MakeValidUtf8(text), text) << name;
        }
    }
}

std::string FullSample() {
    return TiffBuilder()
        .Ascii(0x010F, "Canon")
        .Ascii(0x0110, "Canon EOS 5D Mark II")
        .Ascii(0x0132, "2013:05:01 08:30:00")
        .Short(0x0128, 2)
        .Rational(0x011A, 72, 1, TiffBuilder::kIfd0)
        .Rational(0x829A, 1, 125)
        .Rational(0x829D, 28, 10)
        .Short(0x8827, 400, TiffBuilder::kExifIfd)
        .Rational(0x9204, static_cast<uint32_t>(-1), 3, TiffBuilder::kExifIfd, 10)
        .Rational(0x0002, 40, 1, TiffBuilder::kGpsIfd)
        .Build();
}

} // namespace

TEST(ExifHostileTest, DirectoryLoopsEnd) {
    // IFD0 at 8 whose EXIF pointer and next-IFD link both point back to itself.
    std::string tiff = std::string("II*\0", 4) + Le32(8) + Le16(3) + IfdEntry(0x8769, 4, 1, 8) +
                       IfdEntry(0x8825, 4, 1, 8) + IfdEntry(0x0112, 3, 1, 6) + Le32(8);
    CHTiffReader reader;
    ASSERT_TRUE(reader.Parse(tiff));
    ASSERT_NE(reader.Find(0x0112), nullptr);
    EXPECT_EQ(reader.Find(0x0112)->ShortValue(), 6);

    // EXIF and GPS directories pointing at each other and at IFD0.
    std::string crossed = std::string("II*\0", 4) + Le32(8) + Le16(2) + IfdEntry(0x8769, 4, 1, 38) +
                          IfdEntry(0x8825, 4, 1, 56) + Le32(0) + Le16(1) +
                          IfdEntry(0x8769, 4, 1, 8) + Le32(56) + Le16(1) +
                          IfdEntry(0x8769, 13, 1, 38) + Le32(38);
    Json::Value exif;
    EXPECT_TRUE(ReadExifFromMemory(JpegWithExif(crossed, 10, 10), 1, exif));
}

TEST(ExifHostileTest, CountsAndOffsetsPastTheEndDropOnlyTheirEntry) {
    std::string tiff = std::string("II*\0", 4) + Le32(8) + Le16(5) +
                       // A huge count whose value would lie far past the end.
                       IfdEntry(0x010E, 2, 0xFFFFFFFF, 20) +
                       // An offset past the end.
                       IfdEntry(0x0110, 2, 100, 0xFFFFFFF0) +
                       // Unknown types have no size and are skipped.
                       IfdEntry(0x0131, 99, 1, 0) + IfdEntry(0x013B, 0, 4, 0) +
                       IfdEntry(0x010F, 2, 4, 0x004F4B41) + Le32(0);
    CHTiffReader reader;
    ASSERT_TRUE(reader.Parse(tiff));
    EXPECT_TRUE(reader.Truncated());
    EXPECT_EQ(reader.Items().size(), 1u);
    Json::Value exif;
    ASSERT_TRUE(ReadExifFromMemory(JpegWithExif(tiff, 10, 10), 1, exif));
    EXPECT_EQ(exif["EquipMake"].asString(), "AKO");
    EXPECT_FALSE(exif.isMember("Description"));
    EXPECT_FALSE(exif.isMember("EquipModel"));
}

TEST(ExifHostileTest, DirectoryWithMoreEntriesThanBytes) {
    std::string tiff = std::string("MM\0*", 4) + std::string("\0\0\0\x08", 4) +
                       std::string("\xFF\xFF", 2) + std::string("\x01\x12\x00\x03", 4) +
                       std::string("\0\0\0\x01\x00\x03\0\0", 8);
    CHTiffReader reader;
    ASSERT_TRUE(reader.Parse(tiff));
    EXPECT_TRUE(reader.Truncated());
    ASSERT_NE(reader.Find(0x0112), nullptr);
    EXPECT_EQ(reader.Find(0x0112)->ShortValue(), 3);
}

TEST(ExifHostileTest, WrongTypesAndShortValuesReadAsZero) {
    TiffBuilder tiff;
    // A one-byte value, an empty SHORT, a text where a rational belongs, a rational with a
    // single half.
    tiff.Entry(TiffBuilder::kIfd0, 0x0112, 1, 1, std::string("\x06", 1))
        .Entry(TiffBuilder::kExifIfd, 0x8827, 3, 0, "")
        .Ascii(0x829A, "1/125", TiffBuilder::kExifIfd)
        .Entry(TiffBuilder::kExifIfd, 0x829D, 5, 0, "");
    Json::Value exif;
    ASSERT_TRUE(ReadExifFromMemory(JpegWithExif(tiff.Build(), 10, 10), 1, exif));
    EXPECT_EQ(exif["Orientation"].asString(), "顺时针旋转90度");
    EXPECT_EQ(exif["ISOSpeed"].asString(), "0");
    EXPECT_EQ(exif["ExposureTime"].asString(), " 0.000");
    EXPECT_EQ(exif["FNumber"].asString(), "F0.0");
}

TEST(ExifHostileTest, BadTiffHeadersAreIgnored) {
    for (const std::string& tiff :
         {std::string("II*\0", 4), std::string("II+\0\x08\0\0\0", 8), std::string("XX*\0", 4),
          std::string("II*\0", 4) + Le32(0xFFFFFFFF), std::string("MM\0*\0\0\0\x08", 8)}) {
        Json::Value exif;
        ASSERT_TRUE(ReadExifFromMemory(JpegWithExif(tiff, 10, 10), 1, exif));
        EXPECT_EQ(exif.size(), 2u);
    }
}

TEST(ExifHostileTest, EveryTruncationOfAPhotoIsSafe) {
    std::string jpeg = JpegWithExif(FullSample(), 4000, 3000);
    for (size_t length = 0; length <= jpeg.size(); ++length) {
        std::string_view part(jpeg.data(), length);
        Json::Value exif;
        if (ReadExifFromMemory(std::string(part), 1, exif)) {
            ExpectValidTexts(exif);
            EXPECT_EQ(exif["ImageSize"].asString(), "4000×3000");
        }
        int width = 0;
        int height = 0;
        EXPECT_EQ(ReadImageSize(part, width, height), length >= jpeg.size() - 12);
    }
}

TEST(ExifHostileTest, RandomCorruptionIsSafe) {
    std::string jpeg = JpegWithExif(FullSample(), 4000, 3000);
    std::mt19937 random(20240501);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = jpeg;
        int flips = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < flips; ++i) {
            // Keep SOI so the JPEG path is taken; corrupt anything after it.
            size_t at = 2 + random() % (bytes.size() - 2);
            bytes[at] = static_cast<char>(random() % 4 == 0 ? 0xFF : random());
        }
        Json::Value exif;
        if (ReadExifFromMemory(bytes, 1, exif)) {
            ExpectValidTexts(exif);
            EXPECT_TRUE(exif.isMember("TakenTime"));
        }
    }
}
