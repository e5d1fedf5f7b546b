#include "pairing/CHQrEncoder.h"
#include "pairing/QrImage.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// A whole module matrix, value-initialised (all light), kept off the stack.
struct Grid {
    CHQrEncoder::Matrix m{};
};

std::unique_ptr<CHQrEncoder> Encoded(const std::string& text, int mask = -1) {
    auto encoder = std::make_unique<CHQrEncoder>(mask);
    EXPECT_TRUE(encoder->Encode(text.c_str())) << text.substr(0, 60);
    return encoder;
}

std::vector<CHQrEncoder::Segment> Segments(const CHQrEncoder& e) {
    std::vector<CHQrEncoder::Segment> list;
    for (int i = 0; i < e.SegmentCount(); ++i) {
        list.push_back(e.GetSegment(i));
    }
    return list;
}

// Row "pattern" ('#' dark) at row 10 of an otherwise light 21 x 21 matrix.
int PenaltyOfRow(const std::string& pattern) {
    auto m = std::make_unique<Grid>();
    for (auto& column : m->m) {
        for (auto& module : column) {
            module = 0;
        }
    }
    for (size_t x = 0; x < pattern.size(); ++x) {
        m->m[x][10] = pattern[x] == '#' ? 1 : 0;
    }
    return CHQrEncoder::Penalty(m->m, 21);
}

} // namespace

TEST(QrSegments, SingleModeTextsStayOneSegment) {
    auto digits = Encoded("01234567890123456789");
    ASSERT_EQ(digits->SegmentCount(), 1);
    EXPECT_EQ(digits->GetSegment(0).mode, CHQrEncoder::kModeNumeric);
    EXPECT_EQ(digits->GetSegment(0).length, 20);
    EXPECT_EQ(digits->DataBits(), 4 + 10 + 6 * 10 + 7);

    auto hello = Encoded("HELLO WORLD");
    ASSERT_EQ(hello->SegmentCount(), 1);
    EXPECT_EQ(hello->GetSegment(0).mode, CHQrEncoder::kModeAlnum);
    EXPECT_EQ(hello->DataBits(), 4 + 9 + 5 * 11 + 6);

    // Alternating letters and digits cost less as one alphanumeric run.
    auto mixed = Encoded("A1B2C3D4E5");
    ASSERT_EQ(mixed->SegmentCount(), 1);
    EXPECT_EQ(mixed->GetSegment(0).mode, CHQrEncoder::kModeAlnum);
    EXPECT_EQ(mixed->GetSegment(0).length, 10);
}

TEST(QrSegments, DigitRunsJoinByteTextUnlessLongEnough) {
    auto shortRun = Encoded("abc12def");
    ASSERT_EQ(shortRun->SegmentCount(), 1);
    EXPECT_EQ(shortRun->GetSegment(0).mode, CHQrEncoder::kModeByte);
    EXPECT_EQ(shortRun->DataBits(), 4 + 8 + 8 * 8);

    // Short digit and letter runs between byte text fold into one byte segment.
    auto folded = Encoded("xy12ABz");
    ASSERT_EQ(folded->SegmentCount(), 1);
    EXPECT_EQ(folded->GetSegment(0).mode, CHQrEncoder::kModeByte);
    EXPECT_EQ(folded->DataBits(), 4 + 8 + 7 * 8);

    std::string digits(30, '7');
    auto longRun = Encoded("abc" + digits + "def");
    auto segs = Segments(*longRun);
    ASSERT_EQ(segs.size(), 3u);
    EXPECT_EQ(segs[0].mode, CHQrEncoder::kModeByte);
    EXPECT_EQ(segs[1].mode, CHQrEncoder::kModeNumeric);
    EXPECT_EQ(segs[1].length, 30);
    EXPECT_EQ(segs[2].mode, CHQrEncoder::kModeByte);
}

TEST(QrSegments, PairingJsonIsMostlyByteWithShortNumbersFolded) {
    std::string json = "{\"ip\":\"192.168.1.20\", \"port\":6639, \"passwd\":\"abc\", "
                       "\"name\":\"dm0=\", \"id\":\"0123456789ABCDEF0123456789ABCDEF\", "
                       "\"host\":\"pc\", \"version\":\"1.2\"}";
    auto e = Encoded(json);
    int byteBytes = 0;
    int offset = 0;
    size_t port = json.find("6639");
    for (const auto& s : Segments(*e)) {
        if (s.mode == CHQrEncoder::kModeByte) {
            byteBytes += s.length;
            // The port's four digits would cost more as their own numeric segment.
            if (static_cast<size_t>(offset) <= port &&
                port < static_cast<size_t>(offset + s.length)) {
                EXPECT_GE(static_cast<size_t>(offset + s.length), port + 4);
            }
        }
        EXPECT_NE(s.mode, CHQrEncoder::kModeKanji);
        offset += s.length;
    }
    EXPECT_EQ(offset, static_cast<int>(json.size()));
    EXPECT_GT(byteBytes * 2, static_cast<int>(json.size()));
    EXPECT_LT(e->DataBits(), 4 + 8 + 8 * static_cast<int>(json.size()));
}

TEST(QrSegments, Utf8TextIsNeverTakenForShiftJis) {
    // E4 B8 / E6 96 / ... look like Shift-JIS Kanji pairs byte-wise; as UTF-8 they must stay
    // byte data or a reader would show different characters.
    auto chinese = Encoded("中文密码 Wi-Fi 书房电脑 2024");
    for (const auto& s : Segments(*chinese)) {
        EXPECT_NE(s.mode, CHQrEncoder::kModeKanji);
    }
    // Real Shift-JIS (not valid UTF-8) still uses the compact Kanji mode: 13 bits a character.
    auto sjis = Encoded("\x88\x9f\x88\xa0\x93\xfa\x96\x7b");
    ASSERT_EQ(sjis->SegmentCount(), 1);
    EXPECT_EQ(sjis->GetSegment(0).mode, CHQrEncoder::kModeKanji);
    EXPECT_EQ(sjis->GetSegment(0).length, 8);
    EXPECT_EQ(sjis->DataBits(), 4 + 8 + 4 * 13);
    // A lead byte without a valid second byte is plain byte data.
    auto broken = Encoded("\x9f\xfd\xeb\xc0");
    for (const auto& s : Segments(*broken)) {
        EXPECT_EQ(s.mode, CHQrEncoder::kModeByte);
    }
}

TEST(QrVersion, Version1CapacityBoundaries) {
    struct Case {
        std::string fits;
        std::string over;
    } cases[] = {
        {std::string(34, '9'), std::string(35, '9')}, // 128 bits exactly, then 131
        {std::string(20, 'Q'), std::string(21, 'Q')}, // 123, then 129
        {std::string(14, 'q'), std::string(15, 'q')}, // 124, then 132
    };
    for (const auto& c : cases) {
        auto fits = Encoded(c.fits);
        EXPECT_EQ(fits->Version(), 1) << c.fits;
        EXPECT_EQ(fits->Size(), 21);
        auto over = Encoded(c.over);
        EXPECT_EQ(over->Version(), 2) << c.over;
        EXPECT_EQ(over->Size(), 25);
    }
    EXPECT_EQ(Encoded(std::string(34, '9'))->DataBits(), 128);
}

TEST(QrVersion, Version40LimitsAndFailures) {
    struct Case {
        char c;
        int max;
    } cases[] = {{'5', 5596}, {'Z', 3391}, {'z', 2331}};
    for (const auto& c : cases) {
        auto largest = Encoded(std::string(c.max, c.c));
        EXPECT_EQ(largest->Version(), 40);
        EXPECT_EQ(largest->Size(), 177);
        CHQrEncoder* e = largest.get();
        EXPECT_FALSE(e->Encode(std::string(c.max + 1, c.c).c_str()));
        EXPECT_FALSE(e->HasSymbol()); // the earlier symbol is gone too
        EXPECT_EQ(e->Size(), 0);
        EXPECT_EQ(e->Module(0, 0), 0);
    }
    auto e = std::make_unique<CHQrEncoder>();
    EXPECT_FALSE(e->Encode(""));
    EXPECT_FALSE(e->Encode(nullptr));
    EXPECT_FALSE(e->Encode(std::string(100000, '1').c_str()));
    EXPECT_FALSE(MakeQrImage("").has_value());
    EXPECT_FALSE(MakeQrImage(std::string(2332, 'z')).has_value());
}

TEST(QrMask, PenaltyRulesOnKnownPatterns) {
    auto m = std::make_unique<Grid>();
    for (int x = 0; x < 21; ++x) {
        for (int y = 0; y < 21; ++y) {
            m->m[x][y] = 0;
        }
    }
    // All light: 42 runs of 21 (19 each), 400 blocks (3 each), balance 10 * 10.
    EXPECT_EQ(CHQrEncoder::Penalty(m->m, 21), 42 * 19 + 400 * 3 + 100);
    for (int x = 0; x < 21; ++x) {
        for (int y = 0; y < 21; ++y) {
            m->m[x][y] = (x + y) % 2 == 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(CHQrEncoder::Penalty(m->m, 21), 0);

    // 1:1:3:1:1 at the row's start, light to the right: +40.
    EXPECT_EQ(PenaltyOfRow("#.###.#"), 12 + 380 + 80 + 304 + 40 + 386 * 3 + 90);
    // Dark modules 2-4 places away on both sides lift the finder penalty...
    EXPECT_EQ(PenaltyOfRow("....#..#.###.#...#"), 380 + 112 + 266 + 0 + 376 * 3 + 90);
    // ...but one side alone does not.
    EXPECT_EQ(PenaltyOfRow("....#..#.###.#"), 5 + 380 + 96 + 285 + 40 + 380 * 3 + 90);
}

TEST(QrMask, LowestPenaltyWinsAndTiesGoToTheLowerMask) {
    bool sawTie = false;
    for (int i = 0; i < 400 && !sawTie; ++i) {
        auto e = Encoded("TIE" + std::to_string(i));
        int best = e->MaskPenalty(0);
        for (int k = 1; k < 8; ++k) {
            best = std::min(best, e->MaskPenalty(k));
        }
        int firstBest = -1;
        int ties = 0;
        for (int k = 0; k < 8; ++k) {
            if (e->MaskPenalty(k) == best) {
                ties++;
                if (firstBest < 0) {
                    firstBest = k;
                }
            }
        }
        EXPECT_EQ(e->Mask(), firstBest);
        sawTie = ties > 1;
    }
    EXPECT_TRUE(sawTie) << "no text with two equally good masks found";
}

TEST(QrMask, SelectionScoresTheFinishedSymbol) {
    const std::string text = "https://example.invalid/app?x=1";
    auto chosen = Encoded(text);
    auto m = std::make_unique<Grid>();
    for (int mask = 0; mask < 8; ++mask) {
        auto forced = Encoded(text, mask);
        EXPECT_EQ(forced->Mask(), mask);
        EXPECT_EQ(forced->MaskPenalty(mask), -1); // nothing was weighed
        for (int x = 0; x < forced->Size(); ++x) {
            for (int y = 0; y < forced->Size(); ++y) {
                m->m[x][y] = static_cast<uint8_t>(forced->Module(x, y));
            }
        }
        // The penalty used for the choice includes the mask's own format information.
        EXPECT_EQ(CHQrEncoder::Penalty(m->m, forced->Size()), chosen->MaskPenalty(mask)) << mask;
    }
}

TEST(QrImageTest, OnePixelPerModuleWithWhiteQuietZone) {
    auto e = Encoded("HELLO WORLD");
    QrImage image = MakeQrImage(*e);
    ASSERT_EQ(image.width, 29);
    ASSERT_EQ(image.height, 29);
    for (int y = 0; y < 29; ++y) {
        for (int x = 0; x < 29; ++x) {
            bool inside = x >= 4 && y >= 4 && x < 25 && y < 25;
            int expected = inside && e->Module(x - 4, y - 4) ? 0 : 255;
            ASSERT_EQ(image.At(x, y), expected) << x << "," << y;
        }
    }
    // Finder corners are dark, the separator next to them light.
    EXPECT_EQ(image.At(4, 4), 0);
    EXPECT_EQ(image.At(11, 4), 255);
    EXPECT_EQ(MakeQrImage(CHQrEncoder()).width, 0);
}

TEST(QrImageTest, PngIsOpaqueGreyScaledUp) {
    TempDir dir("vellumo-qrpng");
    auto image = MakeQrImage("HELLO WORLD");
    ASSERT_TRUE(image);
    fs::path file = dir / "code.png";
    ASSERT_TRUE(WriteQrPng(*image, file, 3));

    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&png, file.c_str()));
    EXPECT_EQ(png.width, 87u);
    EXPECT_EQ(png.height, 87u);
    EXPECT_EQ(png.format & PNG_FORMAT_FLAG_ALPHA, 0u); // flat on white, no transparency
    png.format = PNG_FORMAT_GRAY;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr));
    for (int y = 0; y < 87; ++y) {
        for (int x = 0; x < 87; ++x) {
            ASSERT_EQ(pixels[static_cast<size_t>(y) * 87 + x], image->At(x / 3, y / 3));
        }
    }

    EXPECT_FALSE(WriteQrPng(*image, dir / "zero.png", 0));
    EXPECT_FALSE(WriteQrPng(*image, dir / "huge.png", 65));
    EXPECT_FALSE(WriteQrPng(QrImage{}, dir / "empty.png", 1));
    EXPECT_FALSE(WriteQrPng(*image, dir / "missing" / "x.png", 1));
    EXPECT_FALSE(fs::exists(dir / "zero.png"));
    EXPECT_FALSE(fs::exists(dir / "missing" / "x.png"));
}

TEST(QrImageTest, HalfBlocksTwoRowsPerLine) {
    auto e = Encoded("HELLO WORLD");
    std::string text = RenderQrHalfBlocks(*e);
    // 29 rows of modules with the quiet zone: 15 lines of 29 characters.
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(text.substr(start, nl - start));
    }
    EXPECT_EQ(start, text.size());
    ASSERT_EQ(lines.size(), 15u);
    const std::string full = "\u2588";
    std::string quiet;
    for (int i = 0; i < 29; ++i) {
        quiet += full;
    }
    EXPECT_EQ(lines[0], quiet);
    EXPECT_EQ(lines[1], quiet);
    EXPECT_EQ(lines[13], quiet);
    EXPECT_EQ(lines[14], quiet); // the last quiet row and the light half past it
    // Line 2 holds module rows 0 and 1: finder tops are dark (spaces) in both.
    EXPECT_EQ(lines[2].substr(0, 4 * full.size()), full + full + full + full);
    EXPECT_EQ(lines[2][4 * full.size()], ' ');
    EXPECT_EQ(RenderQrHalfBlocks(CHQrEncoder()), "");
}

TEST(QrLayout, FormatAndVersionInformationInBothCopies) {
    // Level M format strings for masks 0-7 and version strings of 7 and 40, as the standard
    // lists them.
    const uint32_t format[8] = {0x5412, 0x5125, 0x5E7C, 0x5B4B, 0x45F9, 0x40CE, 0x4F97, 0x4AA0};
    const std::string texts[] = {"HELLO WORLD", std::string(115, 'm'), std::string(2331, 'q')};
    for (const auto& text : texts) {
        for (int mask = 0; mask < 8; ++mask) {
            auto e = Encoded(text, mask);
            int n = e->Size();
            // Copy 1 reads from the MSB along row 8 (skipping the timing column), then up column 8.
            uint32_t first = 0;
            for (int x : {0, 1, 2, 3, 4, 5, 7, 8}) {
                first = (first << 1) | static_cast<uint32_t>(e->Module(x, 8));
            }
            for (int y : {7, 5, 4, 3, 2, 1, 0}) {
                first = (first << 1) | static_cast<uint32_t>(e->Module(8, y));
            }
            // Copy 2 reads from the MSB up column 8 from the bottom, then along row 8 to the right.
            uint32_t second = 0;
            for (int y = n - 1; y >= n - 7; --y) {
                second = (second << 1) | static_cast<uint32_t>(e->Module(8, y));
            }
            for (int x = n - 8; x < n; ++x) {
                second = (second << 1) | static_cast<uint32_t>(e->Module(x, 8));
            }
            EXPECT_EQ(first, format[mask]) << "v" << e->Version() << " mask " << mask;
            EXPECT_EQ(second, format[mask]) << "v" << e->Version() << " mask " << mask;
            EXPECT_EQ(e->Module(8, n - 8), 1); // the dark module

            if (e->Version() < 7) {
                continue;
            }
            uint32_t topRight = 0;
            uint32_t bottomLeft = 0;
            for (int i = 17; i >= 0; --i) {
                topRight =
                    (topRight << 1) | static_cast<uint32_t>(e->Module(n - 11 + i % 3, i / 3));
                bottomLeft =
                    (bottomLeft << 1) | static_cast<uint32_t>(e->Module(i / 3, n - 11 + i % 3));
            }
            ASSERT_TRUE(e->Version() == 7 || e->Version() == 40) << e->Version();
            EXPECT_EQ(topRight, e->Version() == 7 ? 0x07C94u : 0x28C69u);
            EXPECT_EQ(bottomLeft, topRight);
        }
    }
}
