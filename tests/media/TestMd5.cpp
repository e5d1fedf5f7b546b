#include "media/CHMd5.h"

#include "platform/Random.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string DigestHex(const std::string& data) {
    CHMd5 md5;
    md5.Update(data.data(), data.size());
    uint8_t digest[16];
    md5.Final(digest);
    char text[33];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    }
    return text;
}

std::string Upper(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string RandomData(size_t n) {
    std::string s(n, '\0');
    RandomBytes(s.data(), n);
    return s;
}

// md5sum from coreutils as the reference.
std::string Md5sum(const fs::path& file) {
    std::string command = "md5sum '" + file.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    char line[256] = {};
    std::string out;
    if (std::fgets(line, sizeof(line), pipe) != nullptr) {
        out.assign(line, 32);
    }
    pclose(pipe);
    return Upper(out);
}

} // namespace

TEST(Md5, Rfc1321Vectors) {
    EXPECT_EQ(DigestHex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DigestHex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(DigestHex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(DigestHex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(DigestHex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(DigestHex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(DigestHex("1234567890123456789012345678901234567890123456789012345678901234567890"
                        "1234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, TextIsUpperCaseAndEmptyGivesZeros) {
    EXPECT_EQ(Md5Text("abc", 3), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(Md5Text("abc", 0), std::string(32, '0'));
    EXPECT_EQ(Md5Text(nullptr, 10), std::string(32, '0'));
    EXPECT_EQ(std::string(Md5TextShared("abc", 3)), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(std::string(Md5TextShared(nullptr, 0)), std::string(32, '0'));
}

TEST(Md5, PaddingBoundaries) {
    // Lengths around 55/56/64 bytes exercise both padding branches.
    for (size_t n : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u}) {
        std::string data(n, 'x');
        CHMd5 whole;
        whole.Update(data.data(), n);
        uint8_t a[16];
        whole.Final(a);
        CHMd5 bytewise;
        for (char c : data) {
            bytewise.Update(&c, 1);
        }
        uint8_t b[16];
        bytewise.Final(b);
        EXPECT_EQ(0, std::memcmp(a, b, 16)) << n;
    }
}

TEST(Md5, ChunkedUpdatesMatchOneShot) {
    std::string data = RandomData(100000);
    std::string expected = Md5Text(data.data(), data.size());
    uint8_t seed;
    RandomBytes(&seed, 1);
    CHMd5 md5;
    size_t pos = 0;
    size_t step = 1 + seed % 97;
    while (pos < data.size()) {
        size_t n = std::min(step, data.size() - pos);
        md5.Update(data.data() + pos, n);
        pos += n;
        step = step * 7 % 1031 + 1;
    }
    uint8_t digest[16];
    md5.Final(digest);
    char text[33];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(text + 2 * i, 3, "%02X", digest[i]);
    }
    EXPECT_EQ(expected, text);
}

TEST(Md5, ResetAllowsReuse) {
    CHMd5 md5;
    md5.Update("zzz", 3);
    uint8_t first[16];
    md5.Final(first);
    md5.Reset();
    md5.Update("abc", 3);
    uint8_t digest[16];
    md5.Final(digest);
    EXPECT_EQ(digest[0], 0x90);
    EXPECT_EQ(digest[15], 0x72);
}

TEST(Md5, MatchesMd5sumOnRandomFiles) {
    TempDir dir("md5");
    for (size_t n : {1u, 63u, 64u, 65u, 4095u, 1u << 20, (1u << 20) + 13, 3000017u}) {
        std::string data = RandomData(n);
        fs::path file = dir / ("r" + std::to_string(n));
        ASSERT_TRUE(WriteTestFile(file, data));
        std::string reference = Md5sum(file);
        ASSERT_EQ(reference.size(), 32u);
        EXPECT_EQ(Md5Text(data.data(), data.size()), reference) << n;
        std::string text;
        int64_t size = -1;
        ASSERT_TRUE(Md5FileText(file.string(), text, &size));
        EXPECT_EQ(text, reference) << n;
        EXPECT_EQ(size, static_cast<int64_t>(n));
    }
}

TEST(Md5, FileTextEdgeCases) {
    TempDir dir("md5");
    std::string text = "junk";
    EXPECT_FALSE(Md5FileText((dir / "missing").string(), text));
    EXPECT_TRUE(text.empty());
    EXPECT_FALSE(Md5FileText(dir.Path().string(), text)); // a folder
    ASSERT_TRUE(WriteTestFile(dir / "empty", ""));
    int64_t size = -1;
    EXPECT_TRUE(Md5FileText((dir / "empty").string(), text, &size));
    EXPECT_EQ(text, std::string(32, '0'));
    EXPECT_EQ(size, 0);
}

TEST(Md5, SharedFormIsPerThread) {
    // Every thread keeps its own buffer: results never mix.
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &wrong] {
            std::string data = "thread" + std::to_string(t);
            std::string expected = Md5Text(data.data(), data.size());
            for (int i = 0; i < 2000; ++i) {
                const char* text = Md5TextShared(data.data(), data.size());
                if (expected != text) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}
