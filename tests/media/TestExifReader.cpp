// The EXIF object built from hand-laid EXIF blocks: keys, texts, taken time.
#include "media/ExifReader.h"
#include "media/TextCodec.h"
#include "tests/media/TestExifBuilder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int64_t kFileTime = 1234567890;

Json::Value Read(const std::string& bytes) {
    Json::Value exif;
    EXPECT_TRUE(ReadExifFromMemory(bytes, kFileTime, exif));
    return exif;
}

Json::Value ReadTiff(const TiffBuilder& tiff) {
    return Read(JpegWithExif(tiff.Build(), 640, 480));
}

std::string ExposureText(uint32_t numerator, uint32_t denominator) {
    return ReadTiff(TiffBuilder().Rational(0x829A, numerator, denominator))["ExposureTime"]
        .asString();
}

} // namespace

TEST(ExifReaderTest, FileWithoutExifHoldsOnlySizeAndFileTime) {
    for (const std::string& bytes : {JpegWithExif("", 640, 480), PngWithExif("", 640, 480),
                                     JpegWithExif("garbage", 640, 480)}) {
        Json::Value exif = Read(bytes);
        EXPECT_EQ(exif.getMemberNames(), (std::vector<std::string>{"ImageSize", "TakenTime"}));
        EXPECT_EQ(exif["ImageSize"].asString(), "640×480");
        EXPECT_EQ(exif["TakenTime"].asInt64(), kFileTime);
        EXPECT_TRUE(exif["TakenTime"].isInt64());
    }
}

TEST(ExifReaderTest, NonImageFailsAndLeavesTheObjectAlone) {
    Json::Value exif("untouched");
    EXPECT_FALSE(ReadExifFromMemory("just some text, not a picture", kFileTime, exif));
    EXPECT_FALSE(ReadExifFromMemory("", kFileTime, exif));
    // An EXIF block without an image around it is not an image either.
    EXPECT_FALSE(ReadExifFromMemory(TiffBuilder().Ascii(0x010F, "Canon").Build().substr(0, 40),
                                    kFileTime, exif));
    EXPECT_EQ(exif.asString(), "untouched");
}

TEST(ExifReaderTest, PngExifChunkIsRead) {
    Json::Value exif = Read(PngWithExif(TiffBuilder().Ascii(0x010F, "Canon").Build(), 33, 17));
    EXPECT_EQ(exif["ImageSize"].asString(), "33×17");
    EXPECT_EQ(exif["EquipMake"].asString(), "Canon");
}

TEST(ExifTakenTimeTest, DateTimeIsLocalTimeOfTheSystemZone) {
    ScopedTimeZone zone(kShanghai);
    Json::Value exif = ReadTiff(TiffBuilder().Ascii(0x0132, "2013:05:01 08:30:00"));
    EXPECT_EQ(exif["TakenTime"].asInt64(), 1367368200);
    EXPECT_EQ(exif["DateTime"].asString(), "2013:05:01 08:30:00");
}

TEST(ExifTakenTimeTest, SummerPhotoInADaylightSavingZoneKeepsItsHour) {
    ScopedTimeZone zone(kBerlin);
    // 12:00 CEST is 10:00 UTC; a fixed "no summer time" flag would file it an hour off.
    EXPECT_EQ(ReadTiff(TiffBuilder().Ascii(0x0132, "2013:07:01 12:00:00"))["TakenTime"].asInt64(),
              1372672800);
    // 12:00 CET is 11:00 UTC.
    EXPECT_EQ(ReadTiff(TiffBuilder().Ascii(0x0132, "2013:01:15 12:00:00"))["TakenTime"].asInt64(),
              1358247600);
}

TEST(ExifTakenTimeTest, UnusableDatesFallBackToTheFileTime) {
    ScopedTimeZone zone(kUtc);
    for (const char* text : {"0000:00:00 00:00:00", "yesterday", "", "2013:13:01 08:30:00",
                             "1969:12:31 23:00:00", "2013:05:01"}) {
        Json::Value exif = ReadTiff(TiffBuilder().Ascii(0x0132, text));
        EXPECT_EQ(exif["TakenTime"].asInt64(), kFileTime) << text;
        EXPECT_EQ(exif["DateTime"].asString(), text);
    }
}

TEST(ExifTakenTimeTest, FirstDirectoryWinsOverTheExifDirectory) {
    ScopedTimeZone zone(kUtc);
    Json::Value exif = ReadTiff(TiffBuilder()
                                    .Ascii(0x0132, "2001:01:01 00:00:00", TiffBuilder::kExifIfd)
                                    .Ascii(0x0132, "2013:05:01 00:00:00"));
    EXPECT_EQ(exif["DateTime"].asString(), "2013:05:01 00:00:00");
    EXPECT_EQ(exif["TakenTime"].asInt64(), 1367366400);
}

TEST(ExifValueTest, ExposureTimeTexts) {
    EXPECT_EQ(ExposureText(1, 125), "1/125");
    EXPECT_EQ(ExposureText(10, 1250), "1/125");
    EXPECT_EQ(ExposureText(1, 2), "1/2");
    EXPECT_EQ(ExposureText(2, 1), " 2.000");
    EXPECT_EQ(ExposureText(0, 1), " 0.000");
    // A zero denominator is no value, not infinity.
    EXPECT_EQ(ExposureText(1, 0), " 0.000");
    EXPECT_EQ(ExposureText(0, 0), " 0.000");
    // The reciprocal of the shortest time saturates instead of overflowing.
    EXPECT_EQ(ExposureText(1, 0x7FFFFFFF), "1/2147483647");
    // Numerators past 2^31 read as negative: kept as a plain number.
    EXPECT_EQ(ExposureText(0xFFFFFFFF, 3), "-0.333");
}

TEST(ExifValueTest, ExposureBiasTexts) {
    auto bias = [](uint32_t numerator, uint32_t denominator) {
        return ReadTiff(TiffBuilder().Rational(0x9204, numerator, denominator,
                                               TiffBuilder::kExifIfd, 10))["ExposureBias"]
            .asString();
    };
    EXPECT_EQ(bias(0, 1), " 0.000 EV");
    EXPECT_EQ(bias(1, 3), "1/3 EV");
    EXPECT_EQ(bias(2, 3), " 0.667 EV");
    EXPECT_EQ(bias(static_cast<uint32_t>(-1), 3), "-0.333 EV");
    EXPECT_EQ(bias(static_cast<uint32_t>(-2), 2), "-1.000 EV");
    EXPECT_EQ(bias(static_cast<uint32_t>(-20), 10), "-2.000 EV");
}

TEST(ExifValueTest, ResolutionTexts) {
    Json::Value exif = ReadTiff(TiffBuilder()
                                    .Short(0x0128, 3)
                                    .Rational(0x011A, 2835, 100, TiffBuilder::kIfd0)
                                    .Rational(0x011B, 0, 0, TiffBuilder::kIfd0));
    EXPECT_EQ(exif["XResolution"].asString(), " 72.0 dpi");
    EXPECT_EQ(exif["YResolution"].asString(), "  0.0 dpi");

    exif = ReadTiff(TiffBuilder().Short(0x0128, 2).Rational(0x011A, 300, 1, TiffBuilder::kIfd0));
    EXPECT_EQ(exif["XResolution"].asString(), "300.0 dpi");
    EXPECT_FALSE(exif.isMember("YResolution"));

    // The rational accessor gives 0 for a LONG value.
    exif = ReadTiff(TiffBuilder().Short(0x0128, 2).Long(0x011A, 72));
    EXPECT_EQ(exif["XResolution"].asString(), "  0.0 dpi");

    // Without the unit neither key is set.
    exif = ReadTiff(TiffBuilder().Rational(0x011A, 72, 1, TiffBuilder::kIfd0));
    EXPECT_FALSE(exif.isMember("XResolution"));
}

TEST(ExifValueTest, CellSizeNeedsAllThreeTagsAndANonZeroHeightResolution) {
    auto cell = [](uint32_t xResolution, uint32_t yResolution) {
        TiffBuilder tiff;
        tiff.Short(0xA210, 2, TiffBuilder::kExifIfd)
            .Rational(0xA20E, xResolution, 1)
            .Rational(0xA20F, yResolution, 1);
        return Read(JpegWithExif(tiff.Build(), 2000, 1000));
    };
    EXPECT_EQ(cell(1000, 500)["CellSize"].asString(), "4.00cm × 4.00cm");
    EXPECT_EQ(cell(0, 500)["CellSize"].asString(), "0.00cm × 4.00cm");
    EXPECT_FALSE(cell(1000, 0).isMember("CellSize"));
    EXPECT_FALSE(
        ReadTiff(TiffBuilder().Rational(0xA20E, 1, 1).Rational(0xA20F, 1, 1)).isMember("CellSize"));
}

TEST(ExifValueTest, NumericTexts) {
    Json::Value exif =
        ReadTiff(TiffBuilder()
                     .Short(0x0102, 8)
                     .Short(0x0115, 3)
                     .Rational(0x829D, 28, 10)
                     .Short(0x8827, 200, TiffBuilder::kExifIfd)
                     .Rational(0x9201, 6906891, 1000000, TiffBuilder::kExifIfd, 10)
                     .Rational(0x9202, 297, 100)
                     .Rational(0x9203, static_cast<uint32_t>(-150), 100, TiffBuilder::kExifIfd, 10)
                     .Rational(0x9205, 28, 10)
                     .Rational(0x920A, 41, 10)
                     .Rational(0xA20B, 5, 2));
    EXPECT_EQ(exif["位深"].asString(), "24");
    EXPECT_EQ(exif["FNumber"].asString(), "F2.8");
    EXPECT_EQ(exif["ISOSpeed"].asString(), "200");
    EXPECT_EQ(exif["ShutterSpeed"].asString(), "6.906891");
    EXPECT_EQ(exif["Aperture"].asString(), "2.970000");
    EXPECT_EQ(exif["Brightness"].asString(), "-1.500000");
    EXPECT_EQ(exif["MaxAperture"].asString(), "f2.8");
    EXPECT_EQ(exif["FocalLength"].asString(), " 4.1mm");
    EXPECT_EQ(exif["FlashEnergy"].asString(), "2.50s");
}

TEST(ExifValueTest, SubjectDistance) {
    EXPECT_EQ(ReadTiff(TiffBuilder().Rational(0x9206, 0xFFFFFFFF, 1))["SubjectDist"].asString(),
              "无限远");
    EXPECT_EQ(ReadTiff(TiffBuilder().Rational(0x9206, 250, 100))["SubjectDist"].asString(),
              "2.50 m");
}

TEST(ExifValueTest, EnumeratedTexts) {
    auto text = [](uint16_t tag, uint16_t value, const char* key) {
        return ReadTiff(TiffBuilder().Short(tag, value, TiffBuilder::kExifIfd))[key].asString();
    };
    EXPECT_EQ(text(0x0112, 1, "Orientation"), "正常");
    EXPECT_EQ(text(0x0112, 5, "Orientation"), "未知");
    EXPECT_EQ(text(0x0112, 6, "Orientation"), "顺时针旋转90度");
    EXPECT_EQ(text(0x0112, 7, "Orientation"), "未知");
    EXPECT_EQ(text(0x0112, 8, "Orientation"), "逆时针旋转90度");
    EXPECT_EQ(text(0x8822, 3, "ExposureProg"), "光圈优先");
    EXPECT_EQ(text(0x8822, 8, "ExposureProg"), "landscape mode");
    EXPECT_EQ(text(0x8822, 9, "ExposureProg"), "未知");
    EXPECT_EQ(text(0x9207, 5, "MeteringMode"), "矩阵测光");
    EXPECT_EQ(text(0x9207, 255, "MeteringMode"), "未知");
    EXPECT_EQ(text(0x9208, 0, "LightSource"), "未知");
    EXPECT_EQ(text(0x9208, 4, "LightSource"), "未知");
    EXPECT_EQ(text(0x9208, 18, "LightSource"), "灯光");
    EXPECT_EQ(text(0x9208, 21, "LightSource"), "D65");
    EXPECT_EQ(text(0x9208, 23, "LightSource"), "未知");
    EXPECT_EQ(text(0x9209, 0, "Flash"), "无闪光");
    EXPECT_EQ(text(0x9209, 1, "Flash"), "闪光");
    EXPECT_EQ(text(0x9209, 16, "Flash"), "未检测到闪光灯");
    EXPECT_EQ(text(0xA001, 1, "ColorSpace"), "sRGB");
    EXPECT_EQ(text(0xA001, 0xFFFF, "ColorSpace"), "未知");
}

TEST(ExifValueTest, ShortValueIsTheFirstSixteenBitsWhateverTheType) {
    for (bool bigEndian : {false, true}) {
        TiffBuilder tiff(bigEndian);
        // A LONG gives its low half, in either byte order.
        tiff.Long(0x8827, 0x00010064).Long(0x0112, 6);
        // A byte string gives its first two bytes as a little-endian number.
        tiff.Entry(TiffBuilder::kExifIfd, 0x9209, 1, 2, std::string("\x01\x00", 2));
        // SHORT values in a big-endian file.
        tiff.Short(0x9207, 2, TiffBuilder::kExifIfd);
        Json::Value exif = ReadTiff(tiff);
        EXPECT_EQ(exif["ISOSpeed"].asString(), "100") << bigEndian;
        EXPECT_EQ(exif["Orientation"].asString(), "顺时针旋转90度") << bigEndian;
        EXPECT_EQ(exif["Flash"].asString(), "闪光") << bigEndian;
        EXPECT_EQ(exif["MeteringMode"].asString(), "中央重点平均测光") << bigEndian;
    }
}

TEST(ExifValueTest, RationalsInBigEndianFiles) {
    TiffBuilder tiff(true);
    tiff.Rational(0x829A, 1, 250).Rational(0x829D, 56, 10);
    Json::Value exif = ReadTiff(tiff);
    EXPECT_EQ(exif["ExposureTime"].asString(), "1/250");
    EXPECT_EQ(exif["FNumber"].asString(), "F5.6");
}

TEST(ExifTextTest, TextsAreTrimmedCutAtZeroAndValidUtf8) {
    Json::Value exif =
        ReadTiff(TiffBuilder()
                     .Ascii(0x010F, "  Canon \t\r\n")
                     .Entry(TiffBuilder::kIfd0, 0x0110, 2, 12, std::string("EOS\0hidden\0\0", 12))
                     .Ascii(0x013B, "Zo\xEB Caf\xE9")
                     .Ascii(0x8298, "© 张三")
                     .Ascii(0x0131, "cut \xE5\xBC"));
    EXPECT_EQ(exif["EquipMake"].asString(), "Canon");
    EXPECT_EQ(exif["EquipModel"].asString(), "EOS");
    EXPECT_EQ(exif["Copyright"].asString(), "© 张三");
    for (const char* key : {"Artist", "SoftwareUsed"}) {
        std::string text = exif[key].asString();
        EXPECT_EQ(MakeValidUtf8(text), text) << key;
        EXPECT_FALSE(ToWide(text).empty()) << key;
    }
    EXPECT_EQ(exif["Artist"].asString().substr(0, 2), "Zo");
}

TEST(ExifTextTest, ControlBytesJsonCannotCarryBecomeSpaces) {
    Json::Value exif = ReadTiff(TiffBuilder()
                                    .Ascii(0x010E, "line one\nline\x01two\x1B")
                                    .Ascii(0x010F, "\x02"
                                                   "Canon\x7F"));
    EXPECT_EQ(exif["Description"].asString(), "line one\nline two");
    EXPECT_EQ(exif["EquipMake"].asString(), "Canon\x7F");
}

TEST(ExifTextTest, AllTextTagsMapToTheirKeys) {
    Json::Value exif = ReadTiff(TiffBuilder()
                                    .Ascii(0x010E, "desc")
                                    .Ascii(0x0131, "soft")
                                    .Ascii(0x013B, "artist")
                                    .Ascii(0x0320, "title")
                                    .Ascii(0x8298, ""));
    EXPECT_EQ(exif["Description"].asString(), "desc");
    EXPECT_EQ(exif["SoftwareUsed"].asString(), "soft");
    EXPECT_EQ(exif["Artist"].asString(), "artist");
    EXPECT_EQ(exif["ImageTitle"].asString(), "title");
    // A present but empty tag still gives its key.
    EXPECT_TRUE(exif.isMember("Copyright"));
    EXPECT_EQ(exif["Copyright"].asString(), "");
}
