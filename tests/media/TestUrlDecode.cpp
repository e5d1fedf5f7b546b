#include "media/UrlDecode.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>

TEST(UrlDecode, DocumentedExamples) {
    EXPECT_EQ(UrlDecode("a%20b%2"), "a b%2");
    EXPECT_EQ(UrlDecode("%zz"), "%zz");
    EXPECT_EQ(UrlDecode("a+b"), "a+b");
}

TEST(UrlDecode, Cases) {
    EXPECT_EQ(UrlDecode(""), "");
    EXPECT_EQ(UrlDecode("%"), "%");
    EXPECT_EQ(UrlDecode("%4"), "%4");
    EXPECT_EQ(UrlDecode("%41"), "A");
    EXPECT_EQ(UrlDecode("%4a%4A"), "JJ");
    EXPECT_EQ(UrlDecode("%2F2014%2fTrip"), "/2014/Trip");
    EXPECT_EQ(UrlDecode("%%41"), "%A");
    EXPECT_EQ(UrlDecode("%E5%BC%A0"), "张");
    EXPECT_EQ(UrlDecode("%00x"), std::string("\0x", 2));
    EXPECT_EQ(UrlDecode("%g1%1g"), "%g1%1g");
    EXPECT_EQ(UrlDecode("100%"), "100%");
}

namespace {
// The percent-decoding rule written the simplest way.
std::string Reference(const std::string& s) {
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) && hex(s[i + 2])) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}
} // namespace

TEST(UrlDecode, MatchesTheSimpleRuleOnRandomTexts) {
    const char alphabet[] = "%%%%aF9g+ \xe5\x00";
    uint64_t x = 88172645463325252ULL;
    for (int round = 0; round < 20000; ++round) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        size_t n = x % 40;
        std::string s;
        for (size_t i = 0; i < n; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            s += alphabet[x % (sizeof(alphabet) - 1)];
        }
        ASSERT_EQ(UrlDecode(s), Reference(s)) << s;
    }
}
