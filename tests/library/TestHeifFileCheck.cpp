// The arrival check for HEIF files: whole files pass; a file cut anywhere, or whose item data
// lies past its end, does not.
#include "library/ImageFileCheck.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestHeif.h"

#include <gtest/gtest.h>

namespace {

bool Check(const TempDir& dir, const std::string& bytes) {
    const fs::path file = dir / "IMG_0001.HEIC";
    return WriteTestFile(file, bytes) && IsCompleteImageFile(file);
}

} // namespace

TEST(HeifFileCheck, WholeFilesPassCutOnesFail) {
    TempDir dir;
    HeifBuilder builder = HeifBuilder::Photo(640, 480, std::string("MM\0*\0\0\0\x08\0\0", 10));
    builder.items[0].data = std::string(5000, '\x33');
    const std::string whole = builder.Build();
    EXPECT_TRUE(Check(dir, whole));
    // Shorter than its ftyp box, a file is not known as HEIF here; the EXIF reader refuses it.
    const size_t ftyp = whole.find("meta") - 4;
    for (size_t cut = ftyp; cut < whole.size(); cut += 1 + cut / 8) {
        EXPECT_FALSE(Check(dir, whole.substr(0, cut))) << cut;
    }
    // An AVIF, checked the same way whatever its name says.
    HeifBuilder avif = builder;
    avif.majorBrand = "avif";
    avif.compatibleBrands = {"mif1", "miaf"};
    avif.items[0].type = "av01";
    const std::string avifBytes = avif.Build();
    EXPECT_TRUE(Check(dir, avifBytes));
    EXPECT_FALSE(Check(dir, avifBytes.substr(0, avifBytes.size() - 1)));
}

TEST(HeifFileCheck, ItemDataMustLieInsideTheFile) {
    TempDir dir;
    HeifBuilder builder = HeifBuilder::Photo(64, 48);
    builder.items[0].data = std::string(3000, '\x44');
    const std::string whole = builder.Build();
    // mdat written with size 0 ("up to the end of the file") hides a cut from the box walk; the
    // item locations still show it.
    std::string open = whole;
    const size_t mdat = open.rfind("mdat") - 4;
    open.replace(mdat, 4, BigEndian32(0));
    EXPECT_TRUE(Check(dir, open));
    EXPECT_FALSE(Check(dir, open.substr(0, open.size() - 1)));
    EXPECT_FALSE(Check(dir, open.substr(0, mdat + 8)));
    // No meta box at all: not a photo that arrived whole.
    const size_t meta = whole.find("meta") - 4;
    EXPECT_FALSE(Check(dir, whole.substr(0, meta) + HeifBox("free", "") + whole.substr(mdat)));
}
