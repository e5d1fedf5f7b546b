#include "media/UrlDecode.h"

#include <gtest/gtest.h>

TEST(UrlDecode, SpecExamples) {
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
