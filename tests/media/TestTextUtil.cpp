#include "media/TextUtil.h"

#include <gtest/gtest.h>

using Pieces = std::vector<std::string>;

TEST(TextUtil, SplitTextDocumentedExamples) {
    EXPECT_EQ(SplitText("a,,b,", ","), (Pieces{"a", "", "b"}));
    EXPECT_EQ(SplitText(",a", ","), (Pieces{"", "a"}));
    EXPECT_EQ(SplitText("", ","), Pieces{});
    EXPECT_EQ(SplitText("abc", ","), Pieces{"abc"});
    EXPECT_EQ(SplitText(",", ","), Pieces{""});
    EXPECT_EQ(SplitText(",,", ","), (Pieces{"", ""}));
    EXPECT_EQ(SplitText("GET  / HTTP/1.1", " "), (Pieces{"GET", "", "/", "HTTP/1.1"}));
    EXPECT_EQ(SplitText("a\r\nb\r\n", "\r\n"), (Pieces{"a", "b"}));
    EXPECT_EQ(SplitText("abc", ""), Pieces{"abc"});
}

TEST(TextUtil, SplitTextBar) {
    EXPECT_EQ(SplitTextBar("a|b|1388534400|c"), (Pieces{"a", "b", "1388534400", "c"}));
    EXPECT_EQ(SplitTextBar("张|三|"), (Pieces{"张", "三"}));
    EXPECT_EQ(SplitTextBar("||"), (Pieces{"", ""}));
}

TEST(TextUtil, TrimBlanks) {
    EXPECT_EQ(TrimBlanks(""), "");
    EXPECT_EQ(TrimBlanks("  a b  "), "a b");
    EXPECT_EQ(TrimBlanks("\t a \t"), " a "); // spaces first, then tabs
    EXPECT_EQ(TrimBlanks(" \ta\t "), "a");
    EXPECT_EQ(TrimBlanks("   "), "");
    EXPECT_EQ(TrimBlanks("\t\t"), "");
    EXPECT_EQ(TrimBlanks("x"), "x");
}

TEST(TextUtil, SanitizeFileName) {
    EXPECT_EQ(SanitizeFileName("iPhone 5.1"), "iPhone 51");
    EXPECT_EQ(SanitizeFileName("a\\b/c:d*e?f<g>h|i.j\"k"), "abcdefghij\"k");
    EXPECT_EQ(SanitizeFileName("张三的手机"), "张三的手机");
    EXPECT_EQ(SanitizeFileName(std::string("a\0b\x01\x1f\x7f"
                                           "c",
                                           7)),
              "abc");
}

TEST(TextUtil, SanitizeFileNameNeverEmpty) {
    EXPECT_EQ(SanitizeFileName(""), kSanitizedFallbackName);
    EXPECT_EQ(SanitizeFileName("."), kSanitizedFallbackName);
    EXPECT_EQ(SanitizeFileName(".."), kSanitizedFallbackName);
    EXPECT_EQ(SanitizeFileName("..."), kSanitizedFallbackName);
    EXPECT_EQ(SanitizeFileName("/\\:*?<>|"), kSanitizedFallbackName);
    EXPECT_EQ(SanitizeFileName("   "), kSanitizedFallbackName);
    EXPECT_EQ(SanitizeFileName(std::string("\0\n", 2)), kSanitizedFallbackName);
}

TEST(TextUtil, SanitizeFileNameFitsAFileName) {
    std::string longName;
    for (int i = 0; i < 200; ++i) {
        longName += "张";
    }
    std::string out = SanitizeFileName(longName);
    EXPECT_LE(out.size(), 255u);
    EXPECT_EQ(out.size() % 3, 0u); // cut at a character boundary
    EXPECT_EQ(SanitizeFileName("a\xff"), "a\xEF\xBF\xBD");
}
