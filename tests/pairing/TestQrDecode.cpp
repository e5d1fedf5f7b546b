// Symbols read back by an independent decoder (zbarimg): the encoder's output must scan to
// exactly the text it was given.

#include "pairing/CHQrEncoder.h"
#include "pairing/PairingPayload.h"
#include "pairing/QrImage.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// Level-M data codewords of versions 1-40, to aim random texts at each version.
constexpr int kDataCodewordsM[41] = {
    0,    16,   28,   44,   64,   86,   108,  124,  154,  182,  216,  254,  290,  334,
    365,  415,  453,  507,  563,  627,  669,  714,  782,  860,  914,  1000, 1062, 1128,
    1193, 1267, 1373, 1455, 1541, 1631, 1725, 1812, 1914, 1992, 2102, 2216, 2334};

bool HaveZbar() {
    return std::system("command -v zbarimg >/dev/null 2>&1") == 0;
}

std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        out.append(buffer, n);
    }
    ::pclose(pipe);
    return out;
}

std::string Quote(const fs::path& path) {
    std::string quoted = "'";
    for (char c : path.string()) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// binary: the symbols' bytes as stored, concatenated in file order with nothing in between.
// Otherwise zbar converts the text to UTF-8 as a phone's reader would and ends each with '\n'.
std::string Zbar(const std::vector<fs::path>& files, bool binary) {
    std::string command = "zbarimg --nodbus -q --raw -Sdisable -Sqrcode.enable";
    if (binary) {
        command += " -Sbinary";
    }
    for (const auto& f : files) {
        command += " " + Quote(f);
    }
    return Capture(command + " 2>/dev/null");
}

std::string Hex(const std::string& text, size_t limit = 48) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < text.size() && i < limit; ++i) {
        std::snprintf(buf, sizeof(buf), "%02X", static_cast<unsigned char>(text[i]));
        out += buf;
    }
    return out + (text.size() > limit ? "..." : "");
}

struct Sample {
    std::string text;
    fs::path file;
    std::string what;
};

fs::path WriteSymbol(const CHQrEncoder& e, const fs::path& file, int scale) {
    EXPECT_TRUE(WriteQrPng(MakeQrImage(e), file, scale));
    return file;
}

// Decodes the samples in batches; a batch that does not read back as the concatenation of its
// texts is decoded file by file to name the culprits.
void ExpectDecodes(const std::vector<Sample>& samples) {
    const size_t batch = 100;
    for (size_t first = 0; first < samples.size(); first += batch) {
        std::vector<fs::path> files;
        std::string expected;
        for (size_t i = first; i < samples.size() && i < first + batch; ++i) {
            files.push_back(samples[i].file);
            expected += samples[i].text;
        }
        if (Zbar(files, true) == expected) {
            continue;
        }
        for (size_t i = first; i < samples.size() && i < first + batch; ++i) {
            std::string got = Zbar({samples[i].file}, true);
            EXPECT_EQ(Hex(got), Hex(samples[i].text))
                << samples[i].what << " length " << samples[i].text.size();
        }
    }
}

enum Mix { kNumeric, kAlnum, kAscii, kChinese, kMixed, kShiftJis, kRawBytes, kMixCount };
const char* const kMixNames[kMixCount] = {"numeric", "alnum",     "ascii",    "utf8-chinese",
                                          "mixed",   "shift-jis", "raw-bytes"};
// Rough bits per input byte, to size texts for a version.
constexpr double kBitsPerByte[kMixCount] = {3.4, 5.6, 8.1, 8.1, 7.0, 6.9, 7.9};

class TextMaker {
public:
    explicit TextMaker(uint32_t seed) : m_rng(seed) {}

    std::string Make(Mix mix, size_t length) {
        std::string t;
        while (t.size() < length) {
            switch (mix) {
            case kNumeric:
                t += Digit();
                break;
            case kAlnum:
                t += kAlnumChars[Pick(45)];
                break;
            case kAscii:
                t += static_cast<char>(0x20 + Pick(95));
                break;
            case kChinese:
                if (Pick(10) < 7) {
                    Chinese(t);
                } else {
                    t += Pick(2) ? Digit() : static_cast<char>('a' + Pick(26));
                }
                break;
            case kMixed:
                Run(t);
                break;
            case kShiftJis:
                if (t.empty() || Pick(10) < 6) {
                    Kanji(t, t.empty());
                } else {
                    t += Pick(2) ? Digit() : static_cast<char>('A' + Pick(26));
                }
                break;
            default:
                t += static_cast<char>(1 + Pick(255));
                break;
            }
        }
        if (mix != kChinese && mix != kMixed && mix != kShiftJis) {
            t.resize(length);
        }
        return t;
    }

    int Pick(int n) { return static_cast<int>(m_rng() % static_cast<uint32_t>(n)); }

private:
    static constexpr char kAlnumChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%*+-./:";

    char Digit() { return static_cast<char>('0' + Pick(10)); }

    void Chinese(std::string& t) {
        uint32_t cp = 0x4E00 + static_cast<uint32_t>(Pick(0x9FA5 - 0x4E00));
        t += static_cast<char>(0xE0 | (cp >> 12));
        t += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        t += static_cast<char>(0x80 | (cp & 0x3F));
    }

    void Kanji(std::string& t, bool first) {
        // A 0x88-0x9F lead can never start UTF-8, so the text is taken as Shift-JIS.
        int lead = first || Pick(2) ? 0x88 + Pick(0x9F - 0x88 + 1) : 0xE0 + Pick(0xEA - 0xE0 + 1);
        int trail = 0x40 + Pick(0xFC - 0x40 + 1);
        if (trail == 0x7F) {
            trail = 0x80;
        }
        t += static_cast<char>(lead);
        t += static_cast<char>(trail);
    }

    void Run(std::string& t) {
        int kind = Pick(4);
        int n = 1 + Pick(kind == 0 ? 20 : kind == 1 ? 15 : kind == 2 ? 10 : 4);
        for (int i = 0; i < n; ++i) {
            if (kind == 0) {
                t += Digit();
            } else if (kind == 1) {
                t += kAlnumChars[10 + Pick(35)];
            } else if (kind == 2) {
                static constexpr char kLower[] = "abcdefghijklmnopqrstuvwxyz\"{}_,!?=&";
                t += kLower[Pick(static_cast<int>(sizeof(kLower)) - 1)];
            } else {
                Chinese(t);
            }
        }
    }

    std::mt19937 m_rng;
};

class QrDecode : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveZbar()) {
            GTEST_SKIP() << "zbarimg is not installed";
        }
    }
    TempDir m_dir{"vellumo-qrdecode"};
};

} // namespace

// count random texts aimed at versions first..last, cycling through the versions and the mode
// mixes; every version and every mix of the range must come out at least once.
static void DecodeRandomTexts(const fs::path& dir, int first, int last, int count, uint32_t seed) {
    TextMaker maker(seed);
    auto encoder = std::make_unique<CHQrEncoder>();
    std::vector<Sample> samples;
    std::set<int> versions;
    std::set<int> mixes;
    int span = last - first + 1;
    for (int s = 0; s < count; ++s) {
        int target = first + s % span;
        Mix mix = static_cast<Mix>(s % kMixCount);
        double lo = kDataCodewordsM[target - 1] * 8 / kBitsPerByte[mix];
        double hi = kDataCodewordsM[target] * 8 / kBitsPerByte[mix];
        size_t length = static_cast<size_t>(lo) + 1 +
                        static_cast<size_t>(maker.Pick(std::max(1, static_cast<int>(hi - lo))));
        std::string text = maker.Make(mix, length);
        while (!encoder->Encode(text.c_str())) {
            ASSERT_GT(text.size(), 100u) << "short text failed: " << Hex(text);
            text = maker.Make(mix, text.size() * 95 / 100);
        }
        int v = encoder->Version();
        if (v >= first && v <= last) {
            versions.insert(v);
            mixes.insert(mix);
        }
        // Most at 2 pixels a module (quick to scan); some at the command's default of 8.
        int scale = s % 25 == 0 ? 8 : 2;
        fs::path file = dir / ("r" + std::to_string(s) + ".png");
        WriteSymbol(*encoder, file, scale);
        samples.push_back({text, file,
                           std::string(kMixNames[mix]) + " v" + std::to_string(v) + " mask " +
                               std::to_string(encoder->Mask())});
    }
    EXPECT_EQ(versions.size(), static_cast<size_t>(span));
    EXPECT_EQ(mixes.size(), static_cast<size_t>(kMixCount));
    ExpectDecodes(samples);
}

// 1 020 texts in all, split by the character-count ranges so the parts can run side by side.
TEST_F(QrDecode, RandomTextsVersions1To9) {
    DecodeRandomTexts(m_dir.Path(), 1, 9, 300, 11);
}
TEST_F(QrDecode, RandomTextsVersions10To26) {
    DecodeRandomTexts(m_dir.Path(), 10, 26, 400, 12);
}
TEST_F(QrDecode, RandomTextsVersions27To40) {
    DecodeRandomTexts(m_dir.Path(), 27, 40, 320, 13);
}

TEST_F(QrDecode, LargestTextsOfVersion40) {
    TextMaker maker(7);
    auto encoder = std::make_unique<CHQrEncoder>();
    std::vector<Sample> samples;
    struct Case {
        Mix mix;
        size_t length;
    } cases[] = {{kNumeric, 5596}, {kAlnum, 3391}, {kAscii, 2331}};
    for (const auto& c : cases) {
        std::string text = maker.Make(c.mix, c.length);
        if (c.mix == kAscii) {
            for (char& ch : text) {
                ch = static_cast<char>('a' + static_cast<unsigned char>(ch) % 26);
            }
        }
        ASSERT_TRUE(encoder->Encode(text.c_str()));
        ASSERT_EQ(encoder->Version(), 40);
        samples.push_back(
            {text, WriteSymbol(*encoder, m_dir / (std::string(kMixNames[c.mix]) + ".png"), 2),
             kMixNames[c.mix]});
        EXPECT_FALSE(encoder->Encode((text + text.substr(0, 1)).c_str()));
    }
    ExpectDecodes(samples);
}

TEST_F(QrDecode, EveryMaskPatternScans) {
    std::vector<Sample> samples;
    const std::string texts[] = {"HELLO WORLD", std::string(150, 'm') + "0123456789",
                                 std::string(1200, 'q')};
    for (const auto& text : texts) {
        for (int mask = 0; mask < 8; ++mask) {
            auto e = std::make_unique<CHQrEncoder>(mask);
            ASSERT_TRUE(e->Encode(text.c_str()));
            fs::path file =
                m_dir / ("m" + std::to_string(e->Version()) + "_" + std::to_string(mask) + ".png");
            samples.push_back(
                {text, WriteSymbol(*e, file, 2),
                 "v" + std::to_string(e->Version()) + " mask " + std::to_string(mask)});
        }
    }
    ExpectDecodes(samples);
}

TEST_F(QrDecode, Utf8TextReadsBackAsTheSameCharacters) {
    // Without the raw-bytes option zbar interprets the text the way phone readers do; text
    // stored in Kanji mode would come back as different characters.
    const std::string texts[] = {
        "中文密码",
        "书房的电脑 DESKTOP-7 192.168.1.20",
        BuildPairingPayload("密码\"\\123", "192.168.1.20"),
        "ÄÖÜ äöü ß € 日本語テキスト",
    };
    std::vector<fs::path> files;
    std::string expected;
    int n = 0;
    for (const auto& text : texts) {
        auto image = MakeQrImage(text);
        ASSERT_TRUE(image);
        files.push_back(m_dir / ("u" + std::to_string(n++) + ".png"));
        ASSERT_TRUE(WriteQrPng(*image, files.back(), 4));
        expected += text + "\n";
    }
    EXPECT_EQ(Zbar(files, false), expected);
}

TEST_F(QrDecode, PayloadScansByteForByte) {
    std::string payload = BuildPairingPayload("p\"w\\d\tx", "10.1.2.3");
    auto image = MakeQrImage(payload);
    ASSERT_TRUE(image);
    fs::path file = m_dir / "payload.png";
    ASSERT_TRUE(WriteQrPng(*image, file, 8));
    EXPECT_EQ(Zbar({file}, true), payload);
}

TEST_F(QrDecode, HalfBlockTextScansOnADarkTerminal) {
    const std::string texts[] = {"HELLO WORLD", BuildPairingPayload("secret", "192.168.1.20")};
    std::vector<Sample> samples;
    for (const auto& text : texts) {
        auto e = std::make_unique<CHQrEncoder>();
        ASSERT_TRUE(e->Encode(text.c_str()));
        std::string drawing = RenderQrHalfBlocks(*e);

        // Paint the text as a dark terminal shows it: glyph halves light, the rest dark, and a
        // dark margin around the drawing.
        const int margin = 3;
        std::vector<std::vector<bool>> rows;
        size_t pos = 0;
        while (pos < drawing.size()) {
            size_t end = drawing.find('\n', pos);
            ASSERT_NE(end, std::string::npos);
            std::vector<bool> top, bottom;
            for (size_t i = pos; i < end;) {
                std::string glyph = drawing[i] == ' ' ? " " : drawing.substr(i, 3);
                i += glyph.size();
                ASSERT_TRUE(glyph == " " || glyph == "\u2580" || glyph == "\u2584" ||
                            glyph == "\u2588")
                    << Hex(glyph);
                top.push_back(glyph == "\u2580" || glyph == "\u2588");
                bottom.push_back(glyph == "\u2584" || glyph == "\u2588");
            }
            rows.push_back(top);
            rows.push_back(bottom);
            pos = end + 1;
        }
        ASSERT_EQ(rows[0].size(), static_cast<size_t>(e->Size() + 8));
        QrImage screen;
        screen.width = static_cast<int>(rows[0].size()) + 2 * margin;
        screen.height = static_cast<int>(rows.size()) + 2 * margin;
        screen.pixels.assign(static_cast<size_t>(screen.width) * screen.height, 0);
        for (size_t y = 0; y < rows.size(); ++y) {
            ASSERT_EQ(rows[y].size(), rows[0].size());
            for (size_t x = 0; x < rows[y].size(); ++x) {
                screen.pixels[(y + margin) * screen.width + x + margin] = rows[y][x] ? 255 : 0;
            }
        }
        fs::path file = m_dir / ("term" + std::to_string(samples.size()) + ".png");
        ASSERT_TRUE(WriteQrPng(screen, file, 4));
        samples.push_back({text, file, "half blocks"});
    }
    ExpectDecodes(samples);
}
