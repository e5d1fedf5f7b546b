// The DC-only path for thumbnails at 1/8 scale against libjpeg at that scale, for every
// sampling layout and with restart markers, and a clean refusal of what it leaves to libjpeg or
// of damaged data. Full-resolution planes come out the same; subsampled chroma is interpolated
// from block averages where libjpeg runs a reduced inverse DCT, so it is a little softer there.
#include "media/CHBitmap.h"
#include "media/CHJpegDcDecoder.h"
#include "tests/support/TestBitmaps.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

namespace {

// libjpeg-turbo's own decoding at 1/8.
CHBitmap LibjpegEighth(const std::string& jpeg) {
    CHBitmap out;
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, sampling = 0, colours = 0;
    if (tjDecompressHeader3(handle, reinterpret_cast<const unsigned char*>(jpeg.data()),
                            jpeg.size(), &width, &height, &sampling, &colours) == 0 &&
        out.Create((width + 7) / 8, (height + 7) / 8, 24) &&
        tjDecompress2(handle, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(),
                      reinterpret_cast<unsigned char*>(out.Bits()), out.Width(), 0, out.Height(),
                      TJPF_BGRX, TJFLAG_ACCURATEDCT) != 0) {
        out.Release();
    }
    tjDestroy(handle);
    return out;
}

bool Eighth(const std::string& jpeg, CHBitmap& out) {
    int width = 0;
    int height = 0;
    return CHJpegDcDecoder::Decode(
        jpeg, [](int, int) { return true; }, out, width, height);
}

int MaxDifference(const CHBitmap& a, const CHBitmap& b) {
    int worst = 0;
    for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) {
            for (int s = 0; s < 24; s += 8) {
                int d = int((a.Pixel(x, y) >> s) & 0xFF) - int((b.Pixel(x, y) >> s) & 0xFF);
                worst = std::max(worst, std::abs(d));
            }
        }
    }
    return worst;
}

TEST(DecodeJpegEighth, MatchesLibjpegForEveryLayout) {
    const CHBitmap photo = MakePhotoBitmap(1001, 757, 8); // partial MCUs on both edges
    struct Variant {
        const char* name;
        JpegLayout layout;
        int tolerance; // largest channel difference
        double rmse;
    };
    const Variant variants[] = {
        {"4:4:4", {90, 1, 1}, 1, 0.002},
        {"grey", {90, 1, 1, 0, true}, 0, 0.001},
        {"quality 100", {100, 1, 1}, 1, 0.002},
        {"4:4:4 restarts every MCU", {92, 1, 1, 1}, 1, 0.002},
        {"4:4:4 restarts every 7 MCUs", {92, 1, 1, 7}, 1, 0.002},
        {"4:2:0", {90, 2, 2}, 80, 0.015},
        {"4:2:2", {90, 2, 1}, 80, 0.015},
        {"4:4:0", {90, 1, 2}, 80, 0.015},
        {"4:2:0 restarts every 3 MCUs", {92, 2, 2, 3}, 80, 0.015},
        {"4:2:0 optimized tables", {75, 2, 2, 0, false, false, true}, 80, 0.015},
    };
    for (const Variant& v : variants) {
        const std::string jpeg = EncodeJpegLayout(photo, v.layout);
        CHBitmap ours;
        ASSERT_TRUE(Eighth(jpeg, ours)) << v.name;
        const CHBitmap reference = LibjpegEighth(jpeg);
        ASSERT_EQ(ours.Width(), 126) << v.name;
        ASSERT_EQ(ours.Height(), 95) << v.name;
        ASSERT_EQ(reference.Width(), 126) << v.name;
        EXPECT_LE(MaxDifference(ours, reference), v.tolerance) << v.name;
        EXPECT_LT(Rmse(ours, 0, 0, reference, 0, 0, 126, 95), v.rmse) << v.name;
    }
}

TEST(DecodeJpegEighth, LeavesOtherFilesToLibjpeg) {
    const CHBitmap photo = MakePhotoBitmap(200, 150, 2);
    CHBitmap out;
    JpegLayout progressive;
    progressive.progressive = true;
    EXPECT_FALSE(Eighth(EncodeJpegLayout(photo, progressive), out));
    // Not wanted at 1/8: the caller's answer stops it after the frame header.
    int width = 0;
    int height = 0;
    const std::string jpeg = EncodeJpegLayout(photo, JpegLayout{});
    EXPECT_FALSE(CHJpegDcDecoder::Decode(
        jpeg, [](int, int) { return false; }, out, width, height));
    EXPECT_EQ(width, 200);
    EXPECT_EQ(height, 150);
    // Damaged data: cut short, or a restart marker out of sequence.
    for (size_t keep : {jpeg.size() / 3, jpeg.size() - 40, size_t(300)}) {
        EXPECT_FALSE(Eighth(jpeg.substr(0, keep), out)) << keep;
    }
    JpegLayout restarts;
    restarts.restartInterval = 1;
    std::string marked = EncodeJpegLayout(photo, restarts);
    size_t rst = marked.find("\xFF\xD3", marked.find("\xFF\xDA"));
    ASSERT_NE(rst, std::string::npos);
    marked[rst + 1] = '\xD5';
    EXPECT_FALSE(Eighth(marked, out));
    // A Huffman table claiming more codes of one length than there are.
    std::string overfull = jpeg;
    size_t dht = overfull.find("\xFF\xC4");
    ASSERT_NE(dht, std::string::npos);
    unsigned char* counts = reinterpret_cast<unsigned char*>(&overfull[dht + 5]);
    for (int len = 15; len >= 1; --len) {
        if (counts[len] >= 3) {
            counts[len] -= 3;
            counts[0] += 3;
            break;
        }
    }
    EXPECT_FALSE(Eighth(overfull, out));
    // Through the thumbnail path such files still decode, by libjpeg.
    CHBitmap thumb;
    const std::string prog = EncodeJpegLayout(photo, progressive);
    EXPECT_TRUE(thumb.DecodeThumbnail(prog.data(), prog.size(), 20, 20));
}

} // namespace
