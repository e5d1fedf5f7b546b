#include "library/ImageFileCheck.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestImages.h"

#include <gtest/gtest.h>

namespace {

TEST(ImageFileCheck, WholeJpegsPassCutOnesFail) {
    TempDir dir;
    TestJpegOptions options;
    options.width = 200;
    options.height = 150;
    options.noise = true;
    options.withExif = true;
    options.exif.dateTime = "2013:05:01 08:30:00";
    const std::string jpeg = MakeTestJpeg(options);
    ASSERT_TRUE(WriteTestFile(dir / "whole.jpg", jpeg));
    EXPECT_TRUE(IsCompleteImageFile(dir / "whole.jpg"));
    // Data after the end of the image (phones append videos or trailers) is fine.
    ASSERT_TRUE(WriteTestFile(dir / "trailer.jpg", jpeg + std::string(5000, '\x5A')));
    EXPECT_TRUE(IsCompleteImageFile(dir / "trailer.jpg"));
    // Stray bytes between segments are skipped as decoders do.
    ASSERT_TRUE(WriteTestFile(dir / "padded.jpg",
                              jpeg.substr(0, 2) + std::string(7, '\0') + jpeg.substr(2)));
    EXPECT_TRUE(IsCompleteImageFile(dir / "padded.jpg"));
    // Every block is there but the end marker is not (some phones write such files), also
    // with other bytes in its place: decoders show them whole.
    ASSERT_TRUE(WriteTestFile(dir / "no-end.jpg", jpeg.substr(0, jpeg.size() - 2)));
    EXPECT_TRUE(IsCompleteImageFile(dir / "no-end.jpg"));
    ASSERT_TRUE(WriteTestFile(dir / "no-end-trailer.jpg",
                              jpeg.substr(0, jpeg.size() - 2) + std::string(300, '\x11')));
    EXPECT_TRUE(IsCompleteImageFile(dir / "no-end-trailer.jpg"));
    // Cut inside the scan data.
    for (size_t cut : {size_t{3}, size_t{40}, jpeg.size() / 2, jpeg.size() - 400}) {
        ASSERT_TRUE(WriteTestFile(dir / "cut.jpg", jpeg.substr(0, cut)));
        EXPECT_FALSE(IsCompleteImageFile(dir / "cut.jpg")) << cut;
    }
    EXPECT_FALSE(IsCompleteImageFile(dir / "missing.jpg"));
}

TEST(ImageFileCheck, PngNeedsItsEndChunkOtherFormatsAreLeftToTheReader) {
    TempDir dir;
    const std::string png("\x89PNG\r\n\x1a\n"
                          "\0\0\0\x0DIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0\x90\x77\x53\xDE"
                          "\0\0\0\0IEND\xAE\x42\x60\x82",
                          45);
    ASSERT_TRUE(WriteTestFile(dir / "a.png", png));
    EXPECT_TRUE(IsCompleteImageFile(dir / "a.png"));
    ASSERT_TRUE(WriteTestFile(dir / "b.png", png.substr(0, 30)));
    EXPECT_FALSE(IsCompleteImageFile(dir / "b.png"));
    ASSERT_TRUE(WriteTestFile(dir / "c.gif", "GIF89a and more"));
    EXPECT_TRUE(IsCompleteImageFile(dir / "c.gif"));
}

} // namespace
