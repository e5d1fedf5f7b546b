// Truncated, corrupt and hostile files: decoding fails cleanly, never crashes or hangs, and an
// image declaring more pixels than the limit is refused before its pixels are allocated.
#include "media/CHBitmap.h"
#include "tests/support/TestBitmaps.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>

namespace {

struct Sample {
    std::string name;
    std::string bytes;
};

std::vector<Sample> Samples() {
    TempDir dir("vellumo-hostile");
    CHBitmap photo = MakePhotoBitmap(96, 64, 4);
    std::vector<Sample> samples{{"jpg", EncodeJpegAt(photo, 90)}};
    for (const char* ext : {"png", "gif", "tif", "bmp"}) {
        fs::path file = dir / (std::string("sample.") + ext);
        EXPECT_TRUE(photo.SaveToFile(file)) << ext;
        samples.push_back({ext, ReadTestFile(file)});
    }
    return samples;
}

bool Decodes(const std::string& bytes) {
    CHBitmap thumb;
    bool ok = thumb.DecodeThumbnail(bytes.data(), bytes.size(), 150, 150);
    CHBitmap full;
    ok = full.LoadFromMemory(bytes.data(), bytes.size()) || ok;
    return ok;
}

void Put16(std::string& b, size_t at, uint16_t v, bool bigEndian) {
    b[at] = char(bigEndian ? v >> 8 : v & 0xFF);
    b[at + 1] = char(bigEndian ? v & 0xFF : v >> 8);
}

void Put32(std::string& b, size_t at, uint32_t v, bool bigEndian) {
    for (int i = 0; i < 4; ++i) {
        int shift = bigEndian ? 24 - 8 * i : 8 * i;
        b[at + size_t(i)] = char((v >> shift) & 0xFF);
    }
}

uint32_t Crc32(const char* data, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<unsigned char>(data[i]);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
    }
    return ~crc;
}

// The same file, claiming width x height pixels in its headers.
std::string Claim(const Sample& s, uint16_t width, uint16_t height) {
    std::string b = s.bytes;
    if (s.name == "jpg") {
        size_t sof = b.find("\xFF\xC0", 2);
        Put16(b, sof + 5, height, true);
        Put16(b, sof + 7, width, true);
    } else if (s.name == "png") {
        Put32(b, 16, width, true);
        Put32(b, 20, height, true);
        Put32(b, 29, Crc32(b.data() + 12, 17), true);
    } else if (s.name == "gif") {
        Put16(b, 6, width, false);
        Put16(b, 8, height, false);
        // The image descriptor follows the global colour table (no extensions here).
        const auto flags = static_cast<unsigned char>(b[10]);
        size_t desc = 13 + ((flags & 0x80) != 0 ? 3 * (size_t{2} << (flags & 7)) : 0);
        Put16(b, desc + 5, width, false);
        Put16(b, desc + 7, height, false);
    } else if (s.name == "bmp") {
        Put32(b, 18, width, false);
        Put32(b, 22, height, false);
    } else if (s.name == "tif") {
        uint32_t ifd = 0;
        std::memcpy(&ifd, b.data() + 4, 4);
        uint16_t count = 0;
        std::memcpy(&count, b.data() + ifd, 2);
        for (uint16_t i = 0; i < count; ++i) {
            size_t e = ifd + 2 + size_t(i) * 12;
            uint16_t tag = 0;
            uint16_t type = 0;
            std::memcpy(&tag, b.data() + e, 2);
            std::memcpy(&type, b.data() + e + 2, 2);
            if (tag == 256 || tag == 257) {
                uint16_t v = tag == 256 ? width : height;
                if (type == 3) {
                    Put16(b, e + 8, v, false);
                } else {
                    Put32(b, e + 8, v, false);
                }
            }
        }
    }
    return b;
}

TEST(DecodeHostile, SamplesDecode) {
    for (const Sample& s : Samples()) {
        EXPECT_TRUE(Decodes(s.bytes)) << s.name;
    }
}

TEST(DecodeHostile, TruncatedFilesFail) {
    for (const Sample& s : Samples()) {
        for (size_t keep : {size_t(0), size_t(1), size_t(8), s.bytes.size() / 2,
                            s.bytes.size() * 9 / 10, s.bytes.size() - 16}) {
            EXPECT_FALSE(Decodes(s.bytes.substr(0, keep))) << s.name << " cut at " << keep;
        }
    }
}

TEST(DecodeHostile, CorruptBytesNeverCrash) {
    std::mt19937 random(7);
    for (const Sample& s : Samples()) {
        for (int round = 0; round < 40; ++round) {
            std::string b = s.bytes;
            // Keep the signature, damage a few bytes anywhere after it.
            for (int k = 0; k < 1 + round % 6; ++k) {
                size_t at = 8 + random() % (b.size() - 8);
                b[at] = char(random());
            }
            Decodes(b);
        }
        std::string noise = s.bytes.substr(0, 8);
        for (int i = 0; i < 4000; ++i) {
            noise.push_back(char(random()));
        }
        Decodes(noise);
    }
    EXPECT_FALSE(Decodes(""));
    EXPECT_FALSE(Decodes("not an image at all"));
}

TEST(DecodeHostile, DecompressionBombsAreRefusedAtOnce) {
    for (const Sample& s : Samples()) {
        // 20000 x 20000 = 400 megapixels, twice the limit; GIF's 16-bit sides reach 4 G.
        for (auto [w, h] : {std::pair<uint16_t, uint16_t>{20000, 20000}, {65535, 65535}}) {
            const std::string bomb = Claim(s, w, h);
            auto start = std::chrono::steady_clock::now();
            EXPECT_FALSE(Decodes(bomb)) << s.name;
            auto took = std::chrono::steady_clock::now() - start;
            EXPECT_LT(took, std::chrono::milliseconds(500)) << s.name;
        }
    }
}

TEST(DecodeHostile, PixelLimitIsInclusive) {
    const std::vector<Sample> samples = Samples();
    CHBitmap::SetPixelLimit(96 * 64);
    for (const Sample& s : samples) {
        EXPECT_TRUE(Decodes(s.bytes)) << s.name;
    }
    CHBitmap::SetPixelLimit(96 * 64 - 1);
    for (const Sample& s : samples) {
        EXPECT_FALSE(Decodes(s.bytes)) << s.name;
    }
    CHBitmap big;
    EXPECT_FALSE(big.Create(96, 64, 24));
    CHBitmap::SetPixelLimit(CHBitmap::kDefaultPixelLimit);
    EXPECT_TRUE(big.Create(96, 64, 24));
}

TEST(DecodeHostile, ZeroSizedImagesFail) {
    for (const Sample& s : Samples()) {
        EXPECT_FALSE(Decodes(Claim(s, 0, 64))) << s.name;
        EXPECT_FALSE(Decodes(Claim(s, 96, 0))) << s.name;
    }
}

} // namespace
