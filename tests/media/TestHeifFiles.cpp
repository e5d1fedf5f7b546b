// HEIC and AVIF files as phones write them, made here from JPEGs with heif-enc and tagged with
// exiftool: their EXIF object equals the JPEG's, their thumbnails look like ImageMagick's
// rendering of the JPEG in every orientation (the container's own rotation applied once, the
// EXIF one not again), the embedded thumbnail serves small boxes, and damaged files fail.
#include "media/CHBitmap.h"
#include "media/CHFitPlan.h"
#include "media/CHHeifDecoder.h"
#include "media/ExifReader.h"
#include "tests/support/TestBitmaps.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestHeif.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// HEVC and AV1 at high quality against JPEG at 95, then two different resizing filters.
constexpr double kMaxRmse = 0.03;

class HeifFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveHeifTools() || ImageMagickConvert().empty()) {
            GTEST_SKIP() << "heif-enc, exiftool or ImageMagick is not installed";
        }
    }
    TempDir dir{"vellumo-heif"};
};

// ImageMagick's rendering of the (EXIF-oriented) JPEG into the plan's rectangle.
bool Reference(const fs::path& jpeg, const CHFitPlan& plan, CHBitmap& out, const fs::path& work) {
    char crop[96];
    std::snprintf(crop, sizeof crop, "%dx%d+%d+%d", int(plan.srcWidth), int(plan.srcHeight),
                  int(plan.srcX), int(plan.srcY));
    char size[64];
    std::snprintf(size, sizeof size, "%dx%d!", plan.dstWidth, plan.dstHeight);
    const fs::path ppm = work / "reference.ppm";
    return RunConvert({jpeg.string(), "-auto-orient", "+repage", "-crop", crop, "+repage",
                       "-resize", size, "-depth", "8", ppm.string()}) &&
           ReadPpm(ppm, out);
}

// RMSE over the drawn rectangle, leaving out the border.
double Compare(const CHBitmap& thumb, const CHFitPlan& plan, const CHBitmap& reference) {
    int x0 = std::max(plan.dstX, 1);
    int y0 = std::max(plan.dstY, 1);
    int x1 = std::min(plan.dstX + plan.dstWidth, thumb.Width() - 1);
    int y1 = std::min(plan.dstY + plan.dstHeight, thumb.Height() - 1);
    return Rmse(thumb, x0, y0, reference, x0 - plan.dstX, y0 - plan.dstY, x1 - x0, y1 - y0);
}

Json::Value ExifOf(const fs::path& file) {
    Json::Value exif;
    EXPECT_TRUE(ReadExif(file, exif)) << file;
    return exif;
}

} // namespace

TEST_F(HeifFiles, ExifEqualsTheJpegsInEveryOrientation) {
    const fs::path source = dir / "source.jpg";
    ASSERT_TRUE(WriteTestFile(source, EncodeJpegAt(MakePhotoBitmap(320, 240, 5), 90)));
    ASSERT_TRUE(RunTool({"exiftool",
                         "-q",
                         "-overwrite_original",
                         "-Make=Phone Maker",
                         "-Model=Model 7 Pro",
                         "-ModifyDate=2021:06:05 14:03:09",
                         "-DateTimeOriginal=2021:06:05 14:03:09",
                         "-ExposureTime=1/120",
                         "-FNumber=1.8",
                         "-ISO=125",
                         "-FocalLength=4.2",
                         "-Flash=1",
                         "-ExposureProgram=2",
                         "-MeteringMode=5",
                         "-LightSource=1",
                         "-ColorSpace=1",
                         "-Software=Camera 1.0",
                         "-Artist=Someone",
                         "-Copyright=Someone 2021",
                         "-ImageDescription=花园",
                         "-XResolution=72",
                         "-YResolution=72",
                         "-ResolutionUnit=inches",
                         "-GPSLatitude=31.23",
                         "-GPSLatitudeRef=N",
                         "-GPSLongitude=121.47",
                         "-GPSLongitudeRef=E",
                         "-Orientation#=1",
                         source.string()}));
    ASSERT_TRUE(HeifEncode(source, dir / "source.heic", 64));
    ASSERT_TRUE(HeifEncode(source, dir / "source.avif", 0, true));
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        std::vector<fs::path> files;
        for (const char* ext : {".jpg", ".heic", ".avif"}) {
            files.push_back(dir / ("o" + std::to_string(orientation) + ext));
            fs::copy_file(dir / (std::string("source") + ext), files.back());
        }
        ASSERT_TRUE(SetExifOrientation(files, orientation));
        const Json::Value jpeg = ExifOf(files[0]);
        EXPECT_EQ(jpeg["EquipModel"].asString(), "Model 7 Pro");
        EXPECT_EQ(jpeg["ImageSize"].asString(), "320×240");
        EXPECT_EQ(ExifOf(files[1]), jpeg);
        EXPECT_EQ(ExifOf(files[2]), jpeg);
    }
}

TEST_F(HeifFiles, ThumbnailsMatchImageMagickInEveryOrientation) {
    const int width = 480;
    const int height = 360;
    const std::string plain = EncodeJpegAt(MakePhotoBitmap(width, height, 11), 95);
    const fs::path source = dir / "source.jpg";
    ASSERT_TRUE(WriteTestFile(source, WithOrientation(plain, 1)));
    ASSERT_TRUE(HeifEncode(source, dir / "base.heic", 0, false, 95));
    ASSERT_TRUE(HeifEncode(source, dir / "base.avif", 0, true, 95));
    struct Box {
        int width;
        int height;
    };
    const Box boxes[] = {{150, 150}, {200, 120}, {-1, 160}};
    CHBitmap upright[3]; // orientation 1's references: a wrong turn must be far from them
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        // As phones write them: the container turns the image, the EXIF says the same.
        const fs::path heic = dir / "photo.heic";
        const fs::path avif = dir / "photo.avif";
        fs::copy_file(dir / "base.heic", heic, fs::copy_options::overwrite_existing);
        fs::copy_file(dir / "base.avif", avif, fs::copy_options::overwrite_existing);
        ASSERT_TRUE(SetExifOrientation({heic, avif}, orientation));
        const fs::path jpeg = dir / "oriented.jpg";
        ASSERT_TRUE(WriteTestFile(jpeg, WithOrientation(plain, orientation)));
        const bool swap = orientation >= 5;
        for (int b = 0; b < 3; ++b) {
            CHFitPlan plan;
            ASSERT_TRUE(CHFitPlan::Make(swap ? height : width, swap ? width : height,
                                        boxes[b].width, boxes[b].height, plan));
            CHBitmap reference;
            ASSERT_TRUE(Reference(jpeg, plan, reference, dir.Path()));
            for (const fs::path& file : {heic, avif}) {
                SCOPED_TRACE(file.extension().string() + " box " + std::to_string(b));
                const std::string bytes = WithHeifOrientation(ReadTestFile(file), orientation);
                ASSERT_FALSE(bytes.empty());
                CHBitmap thumb;
                ASSERT_TRUE(thumb.DecodeThumbnail(bytes.data(), bytes.size(), boxes[b].width,
                                                  boxes[b].height));
                ASSERT_EQ(thumb.Width(), plan.width);
                ASSERT_EQ(thumb.Height(), plan.height);
                EXPECT_LT(Compare(thumb, plan, reference), kMaxRmse);
                if (orientation > 1 && upright[b].Width() == reference.Width() &&
                    upright[b].Height() == reference.Height()) {
                    EXPECT_GT(Compare(thumb, plan, upright[b]), 3 * kMaxRmse);
                }
            }
            if (orientation == 1) {
                upright[b] = std::move(reference);
            }
        }
    }
}

TEST_F(HeifFiles, EmbeddedThumbnailServesBoxesItCovers) {
    const fs::path source = dir / "source.jpg";
    ASSERT_TRUE(WriteTestFile(source, EncodeJpegAt(MakePhotoBitmap(640, 480, 3), 95)));
    ASSERT_TRUE(HeifEncode(source, dir / "thumb.heic", 320));
    const std::string whole = ReadTestFile(dir / "thumb.heic");
    // The primary image's coded data zeroed: only the 320 x 240 thumbnail can give pixels.
    std::string noPrimary = whole;
    uint64_t offset = 0;
    uint64_t length = 0;
    ASSERT_TRUE(HeifItemData(whole, HeifPrimaryId(whole), offset, length));
    ASSERT_LE(offset + length, whole.size());
    noPrimary.replace(offset, length, std::string(length, '\0'));

    struct Case {
        int width;
        int height;
        bool fromThumbnail; // the thumbnail has the pixels the box needs
    };
    for (const Case& c : {Case{150, 150, true}, Case{-1, 240, true}, Case{320, 240, true},
                          Case{-1, 241, false}, Case{400, 400, false}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        CHBitmap thumb;
        EXPECT_TRUE(thumb.DecodeThumbnail(whole.data(), whole.size(), c.width, c.height));
        CHBitmap fromThumb;
        EXPECT_EQ(fromThumb.DecodeThumbnail(noPrimary.data(), noPrimary.size(), c.width, c.height),
                  c.fromThumbnail);
        if (c.fromThumbnail && c.width == 150) {
            CHFitPlan plan;
            ASSERT_TRUE(CHFitPlan::Make(640, 480, 150, 150, plan));
            CHBitmap reference;
            ASSERT_TRUE(Reference(source, plan, reference, dir.Path()));
            EXPECT_LT(Compare(fromThumb, plan, reference), kMaxRmse);
        }
    }
    // A full decode always wants the primary image.
    CHBitmap full;
    EXPECT_TRUE(full.LoadFromMemory(whole.data(), whole.size()));
    EXPECT_EQ(full.Width(), 640);
    EXPECT_FALSE(full.LoadFromMemory(noPrimary.data(), noPrimary.size()));
    EXPECT_FALSE(CHHeifDecoder::LastError().empty());

    // The pixel limit counts the primary image, whichever image is decoded.
    CHBitmap::SetPixelLimit(640 * 480 - 1);
    CHBitmap limited;
    EXPECT_FALSE(limited.DecodeThumbnail(whole.data(), whole.size(), 150, 150));
    CHBitmap::SetPixelLimit(CHBitmap::kDefaultPixelLimit);
    EXPECT_TRUE(limited.DecodeThumbnail(whole.data(), whole.size(), 150, 150));
}

TEST_F(HeifFiles, DamagedFilesFailWithoutCrashing) {
    const fs::path source = dir / "source.jpg";
    ASSERT_TRUE(WriteTestFile(source, EncodeJpegAt(MakePhotoBitmap(160, 120, 9), 90)));
    ASSERT_TRUE(HeifEncode(source, dir / "small.heic", 64));
    ASSERT_TRUE(HeifEncode(source, dir / "small.avif", 0, true));
    for (const char* name : {"small.heic", "small.avif"}) {
        SCOPED_TRACE(name);
        const std::string whole = ReadTestFile(dir / name);
        ASSERT_FALSE(whole.empty());
        CHBitmap thumb;
        ASSERT_TRUE(thumb.DecodeThumbnail(whole.data(), whole.size(), 100, 100));
        // Every cut loses data some item needs, or the boxes' own ends.
        for (size_t cut = 0; cut < whole.size(); cut += 1 + cut / 16) {
            EXPECT_FALSE(thumb.DecodeThumbnail(whole.data(), cut, 100, 100)) << cut;
        }
        // Flipped bytes may decode to something or not; they must not crash or hang.
        std::mt19937 random(7);
        for (int round = 0; round < 40; ++round) {
            std::string damaged = whole;
            for (int flips = 0; flips < 4; ++flips) {
                damaged[random() % damaged.size()] ^= static_cast<char>(1 + random() % 255);
            }
            thumb.DecodeThumbnail(damaged.data(), damaged.size(), 100, 100);
        }
    }
}
