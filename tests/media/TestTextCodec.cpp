#include "media/TextCodec.h"

#include <gtest/gtest.h>

TEST(TextCodec, RoundTrips) {
    const std::string texts[] = {"", "abc", "张三的 iPhone", "😀 emoji",
                                 "é\u07FF\u0800\uFFFD\U0010FFFF"};
    for (const std::string& t : texts) {
        std::u16string wide = ToWide(t);
        EXPECT_EQ(ToNarrow(wide), t);
        EXPECT_EQ(ToNarrow(ToWide(t, CP_ACP), CP_ACP), t);
    }
    EXPECT_EQ(ToWide("😀"), u"😀");
    EXPECT_EQ(ToWide("😀").size(), 2u);
    EXPECT_EQ(ToWide("张"), u"张");
}

TEST(TextCodec, InvalidUtf8FailsTheConversion) {
    const char* bad[] = {"\xff",         "a\x80",        "\xc0\xaf",
                         "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                         "\xe5\xbc",     "\xf0\x9f\x98", "abc\xc3"};
    for (const char* t : bad) {
        EXPECT_TRUE(ToWide(t).empty()) << t;
    }
}

TEST(TextCodec, UnpairedSurrogatesFail) {
    EXPECT_TRUE(ToNarrow(std::u16string(1, char16_t(0xD800))).empty());
    EXPECT_TRUE(ToNarrow(std::u16string(1, char16_t(0xDC00))).empty());
    std::u16string reversed = {char16_t(0xDC00), char16_t(0xD800)};
    EXPECT_TRUE(ToNarrow(reversed).empty());
    EXPECT_TRUE(ToNarrow(u"").empty());
}

TEST(TextCodec, MakeValidUtf8) {
    EXPECT_EQ(MakeValidUtf8("abc"), "abc");
    EXPECT_EQ(MakeValidUtf8("张三"), "张三");
    EXPECT_EQ(MakeValidUtf8("a\xffz"), "a\xEF\xBF\xBDz");
    // A truncated sequence is one replacement (maximal subpart).
    EXPECT_EQ(MakeValidUtf8("\xe5\xbcz"), "\xEF\xBF\xBDz");
    EXPECT_EQ(MakeValidUtf8("\xed\xa0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(MakeValidUtf8(""), "");
    // The result is always convertible.
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
        all += "\xe4";
    }
    std::string valid = MakeValidUtf8(all);
    EXPECT_FALSE(ToWide(valid).empty());
}
