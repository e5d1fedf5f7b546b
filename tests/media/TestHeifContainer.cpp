// The HEIF container reader on hand-built files: recognised by brand, size and EXIF found
// wherever the boxes put them, and hostile structures (sizes past the end, loops, tables that
// claim more than they hold, absurd sizes) refused without a crash or a hang.
#include "media/CHBitmap.h"
#include "media/CHHeifContainer.h"
#include "media/CHHeifDecoder.h"
#include "media/CHImageDecoder.h"
#include "media/ExifReader.h"
#include "media/ImageHeader.h"
#include "tests/media/TestExifBuilder.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestHeif.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using Status = CHHeifContainer::Status;

std::string CameraTiff() {
    return TiffBuilder(true)
        .Ascii(0x010F, "Phone")
        .Ascii(0x0110, "Model 7")
        .Ascii(0x0132, "2021:06:05 14:03:09")
        .Short(0x0112, 6)
        .Build();
}

Status ParseWhole(const std::string& bytes, CHHeifContainer& container) {
    return container.Parse(bytes, true);
}

} // namespace

TEST(HeifContainer, RecognisedByBrandNotByName) {
    for (const char* brand : {"heic", "heix", "hevc", "mif1", "msf1", "avif"}) {
        SCOPED_TRACE(brand);
        HeifBuilder major = HeifBuilder::Photo(40, 30);
        major.majorBrand = brand;
        major.compatibleBrands = {};
        EXPECT_TRUE(CHHeifContainer::HasHeifBrand(major.Build()));
        HeifBuilder compatible = HeifBuilder::Photo(40, 30);
        compatible.majorBrand = "abcd";
        compatible.compatibleBrands = {"isom", brand};
        EXPECT_TRUE(CHHeifContainer::HasHeifBrand(compatible.Build()));
    }
    // A video (or a file of boxes with other brands) is not a photo, whatever its boxes hold.
    HeifBuilder video = HeifBuilder::Photo(40, 30);
    video.majorBrand = "isom";
    video.compatibleBrands = {"mp41", "iso2"};
    const std::string mp4 = video.Build();
    EXPECT_FALSE(CHHeifContainer::HasHeifBrand(mp4));
    ImageHeader header;
    EXPECT_FALSE(ReadImageHeader(mp4, header));
    EXPECT_EQ(header.format, ImageFormat::Unknown);
    // The minor version field between the brands is not a brand.
    HeifBuilder minor = HeifBuilder::Photo(40, 30);
    minor.majorBrand = "isom";
    minor.compatibleBrands = {};
    std::string bytes = minor.Build();
    bytes.replace(12, 4, "heic");
    EXPECT_FALSE(CHHeifContainer::HasHeifBrand(bytes));
}

TEST(HeifContainer, SizeAndExifFromTheContainerInAnyBoxOrder) {
    const std::string tiff = CameraTiff();
    for (bool locationsFirst : {false, true}) {
        for (bool inIdat : {false, true}) {
            SCOPED_TRACE(std::to_string(locationsFirst) + std::to_string(inIdat));
            HeifBuilder builder = HeifBuilder::Photo(4032, 3024, tiff);
            builder.locationsFirst = locationsFirst;
            builder.items[1].inIdat = inIdat;
            const std::string file = builder.Build();
            ImageHeader header;
            ASSERT_TRUE(ReadImageHeader(file, header));
            EXPECT_EQ(header.format, ImageFormat::Heif);
            EXPECT_EQ(header.width, 4032);
            EXPECT_EQ(header.height, 3024);
            EXPECT_EQ(header.exif, tiff);
            EXPECT_FALSE(header.needsMoreBytes);

            Json::Value exif;
            ASSERT_TRUE(ReadExifFromMemory(file, 5, exif));
            EXPECT_EQ(exif["ImageSize"].asString(), "4032×3024");
            EXPECT_EQ(exif["EquipMake"].asString(), "Phone");
            EXPECT_EQ(exif["EquipModel"].asString(), "Model 7");
            EXPECT_EQ(exif["Orientation"].asString(), "顺时针旋转90度");
            EXPECT_NE(exif["TakenTime"].asInt64(), 5);
        }
    }
}

TEST(HeifContainer, ExifPayloadForms) {
    const std::string tiff = CameraTiff();
    // With the JPEG marker's "Exif\0\0" kept, and with the offset field pointing past it.
    for (const std::string& payload :
         {BigEndian32(0) + std::string("Exif\0\0", 6) + tiff,
          BigEndian32(6) + std::string("Exif\0\0", 6) + tiff, BigEndian32(2) + "xx" + tiff}) {
        HeifBuilder builder = HeifBuilder::Photo(8, 8, tiff);
        builder.items[1].data = payload;
        ImageHeader header;
        const std::string file = builder.Build();
        ASSERT_TRUE(ReadImageHeader(file, header));
        EXPECT_EQ(header.exif, tiff);
    }
    // An offset field past the item: no EXIF, but still a photo dated by its file time.
    HeifBuilder broken = HeifBuilder::Photo(8, 8, tiff);
    broken.items[1].data = BigEndian32(1000) + tiff;
    Json::Value exif;
    ASSERT_TRUE(ReadExifFromMemory(broken.Build(), 1234, exif));
    EXPECT_EQ(exif.size(), 2u);
    EXPECT_EQ(exif["TakenTime"].asInt64(), 1234);
    // No Exif item at all: the same.
    ASSERT_TRUE(ReadExifFromMemory(HeifBuilder::Photo(8, 8).Build(), 1234, exif));
    EXPECT_EQ(exif.size(), 2u);
    EXPECT_EQ(exif["ImageSize"].asString(), "8×8");
}

TEST(HeifContainer, StartOfAFileAsksForMore) {
    const std::string file = HeifBuilder::Photo(640, 480, CameraTiff()).Build();
    CHHeifContainer container;
    ASSERT_EQ(ParseWhole(file, container), Status::Ok);
    const uint64_t metaEnd = container.MetaEnd();
    for (size_t cut = 0; cut < file.size(); ++cut) {
        const std::string start = file.substr(0, cut);
        ImageHeader header;
        const bool sized = ReadImageHeader(start, header);
        if (cut < metaEnd) {
            EXPECT_FALSE(sized) << cut;
            EXPECT_TRUE(header.needsMoreBytes) << cut;
        } else {
            // The size is known; the EXIF item in mdat may still be cut.
            EXPECT_TRUE(sized) << cut;
            EXPECT_EQ(header.needsMoreBytes, header.exif.empty()) << cut;
        }
        // As a whole file, anything cut is corrupt.
        EXPECT_NE(container.Parse(start, true), Status::Ok) << cut;
    }
}

TEST(HeifContainer, HostileStructuresAreRefused) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::vector<Case> cases;
    const std::string good = HeifBuilder::Photo(64, 48, CameraTiff()).Build();
    auto patched = [&](size_t at, const std::string& with) {
        std::string bytes = good;
        bytes.replace(at, with.size(), with);
        return bytes;
    };
    const size_t meta = good.find("meta") - 4;
    cases.push_back({"meta size past the end", patched(meta, BigEndian32(0x7FFFFFF0))});
    cases.push_back({"meta size below its header", patched(meta, BigEndian32(4))});
    cases.push_back({"64-bit size past the end",
                     patched(meta, BigEndian32(1) + "meta" + BigEndian32(0xFFFFFFFF) +
                                       BigEndian32(0xFFFFFFF0))});
    const size_t mdat = good.find("mdat") - 4;
    cases.push_back({"mdat size past the end", patched(mdat, BigEndian32(0x10000))});
    const size_t iloc = good.find("iloc") - 4;
    cases.push_back({"child box past its parent", patched(iloc, BigEndian32(0x1000))});

    HeifBuilder notPicture = HeifBuilder::Photo(64, 48);
    notPicture.handler = "vide";
    cases.push_back({"handler is not a picture", notPicture.Build()});
    HeifBuilder noPrimary = HeifBuilder::Photo(64, 48);
    noPrimary.primary = 9;
    cases.push_back({"primary item missing", noPrimary.Build()});
    HeifBuilder noSize = HeifBuilder::Photo(64, 48);
    noSize.items[0].width = 0;
    cases.push_back({"primary without ispe", noSize.Build()});
    HeifBuilder twice = HeifBuilder::Photo(64, 48);
    twice.items.push_back(twice.items[0]);
    cases.push_back({"the same item twice", twice.Build()});

    HeifBuilder selfLoop = HeifBuilder::Photo(64, 48);
    selfLoop.items[0].type = "grid";
    selfLoop.references.push_back({"dimg", 1, {1}});
    cases.push_back({"grid made of itself", selfLoop.Build()});
    HeifBuilder cycle = HeifBuilder::Photo(64, 48);
    cycle.items[0].type = "iden";
    cycle.items.push_back({2, "iden", "", false, 64, 48});
    cycle.items.push_back({3, "iden", "", false, 64, 48});
    cycle.references.push_back({"dimg", 1, {2}});
    cycle.references.push_back({"dimg", 2, {3}});
    cycle.references.push_back({"dimg", 3, {2}});
    cases.push_back({"derivation loop", cycle.Build()});
    HeifBuilder deep = HeifBuilder::Photo(64, 48);
    for (uint32_t id = 2; id <= 40; ++id) {
        deep.items.push_back({id, "iden", "", false, 64, 48});
        deep.references.push_back({"dimg", id - 1, {id}});
    }
    cases.push_back({"derivations nested too deep", deep.Build()});

    // An iloc whose extents take no bytes would claim millions of entries from a few bytes.
    std::string emptyExtents = good;
    {
        const size_t at = emptyExtents.find("iloc") + 8; // sizes byte
        emptyExtents[at] = 0;
        emptyExtents[at + 1] = 0;
        emptyExtents.replace(at + 2 + 2 + 2 + 2 + 2, 2, BigEndian16(0xFFFF));
    }
    cases.push_back({"extents without bytes", emptyExtents});
    std::string badIndex = good;
    badIndex[badIndex.find("ipma") + 4 + 4 + 4 + 2 + 1] = 0x7F;
    cases.push_back({"property index past the properties", badIndex});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CHHeifContainer container;
        EXPECT_EQ(container.Parse(c.bytes, true), Status::Corrupt);
        DecodedImage image;
        EXPECT_FALSE(CHImageDecoder::Decode(c.bytes, DecodeRequest{}, image));
        CHBitmap bitmap;
        EXPECT_FALSE(bitmap.DecodeThumbnail(c.bytes.data(), c.bytes.size(), 150, 150));
    }
}

TEST(HeifContainer, ManySharedInputsAreWalkedOnce) {
    // 12 levels of 6 items each, every item using all of the next level: 6^12 paths, but each
    // item is checked once.
    HeifBuilder wide = HeifBuilder::Photo(64, 48);
    wide.items[0].type = "grid";
    std::vector<uint32_t> previous{1};
    uint32_t next = 2;
    for (int level = 0; level < 12; ++level) {
        std::vector<uint32_t> current;
        for (uint32_t i = 0; i < 6; ++i) {
            current.push_back(next + i);
        }
        for (uint32_t id : current) {
            wide.items.push_back({id, "grid", "", false, 64, 48});
        }
        for (uint32_t from : previous) {
            wide.references.push_back({"dimg", from, current});
        }
        previous = current;
        next += 6;
    }
    CHHeifContainer container;
    EXPECT_EQ(container.Parse(wide.Build(), true), Status::Ok);
}

TEST(HeifContainer, AbsurdSizesAndUndecodableImagesFailCleanly) {
    // Within the container's limits but over the pixel limit: refused before decoding.
    const std::string huge = HeifBuilder::Photo(100000, 100000).Build();
    ImageHeader header;
    ASSERT_TRUE(ReadImageHeader(huge, header));
    EXPECT_EQ(header.width, 100000);
    DecodedImage image;
    EXPECT_FALSE(CHImageDecoder::Decode(huge, DecodeRequest{}, image));
    EXPECT_FALSE(CHHeifDecoder::Decode(huge, DecodeRequest{}, image));
    EXPECT_EQ(CHHeifDecoder::LastError(), "image too large");

    // Well-formed boxes around data no decoder accepts, and an image type no decoder knows.
    for (const char* type : {"hvc1", "av01", "zzz1"}) {
        SCOPED_TRACE(type);
        HeifBuilder builder = HeifBuilder::Photo(64, 48);
        builder.items[0].type = type;
        const std::string file = builder.Build();
        EXPECT_FALSE(CHImageDecoder::Decode(file, DecodeRequest{}, image));
        EXPECT_FALSE(CHHeifDecoder::LastError().empty());
        EXPECT_TRUE(image.bitmap.IsEmpty());
    }
}

TEST(HeifContainer, FileWithoutExifIsDatedByItsFileTime) {
    TempDir dir("vellumo-heif");
    const fs::path file = dir / "IMG_0001.HEIC";
    ASSERT_TRUE(WriteTestFile(file, HeifBuilder::Photo(4032, 3024).Build()));
    const auto written = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    fs::last_write_time(file, written);
    const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::file_clock::to_sys(written).time_since_epoch())
                                .count();
    Json::Value exif;
    ASSERT_TRUE(ReadExif(file, exif));
    EXPECT_EQ(exif["TakenTime"].asInt64(), seconds);
    EXPECT_EQ(exif["ImageSize"].asString(), "4032×3024");
}
