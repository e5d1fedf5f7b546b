#include "media/Base64.h"

#include "platform/Random.h"

#include <gtest/gtest.h>

#include <string>

TEST(Base64, Rfc4648Vectors) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("f"), "Zg==");
    EXPECT_EQ(Base64Encode("fo"), "Zm8=");
    EXPECT_EQ(Base64Encode("foo"), "Zm9v");
    EXPECT_EQ(Base64Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(Base64Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Base64Decode(""), "");
    EXPECT_EQ(Base64Decode("Zg=="), "f");
    EXPECT_EQ(Base64Decode("Zm8="), "fo");
    EXPECT_EQ(Base64Decode("Zm9v"), "foo");
    EXPECT_EQ(Base64Decode("Zm9vYg=="), "foob");
    EXPECT_EQ(Base64Decode("Zm9vYmE="), "fooba");
    EXPECT_EQ(Base64Decode("Zm9vYmFy"), "foobar");
}

TEST(Base64, EncodeStopsAtZeroByte) {
    EXPECT_EQ(Base64Encode(std::string("ab\0cd", 5)), "YWI=");
    EXPECT_EQ(Base64EncodeBytes(std::string("ab\0cd", 5)), "YWIAY2Q=");
}

TEST(Base64, DecodeCutsAtZeroByteUnlessBytes) {
    EXPECT_EQ(Base64Decode("YWIAY2Q="), "ab");
    EXPECT_EQ(Base64DecodeBytes("YWIAY2Q="), std::string("ab\0cd", 5));
}

TEST(Base64, Utf8AndHighBytesRoundTrip) {
    std::string name = "张三的 iPhone";
    EXPECT_EQ(Base64Decode(Base64Encode(name)), name);
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    EXPECT_EQ(Base64DecodeBytes(Base64EncodeBytes(all)), all);
    // The alphabet's last two digits are '+' and '/'.
    EXPECT_EQ(Base64EncodeBytes("\xfb\xff"), "+/8=");
}

TEST(Base64, RandomRoundTrips) {
    for (size_t n = 0; n < 300; ++n) {
        std::string data(n, '\0');
        RandomBytes(data.data(), n);
        std::string encoded = Base64EncodeBytes(data);
        EXPECT_EQ(encoded.size(), 4 * ((n + 2) / 3));
        EXPECT_EQ(Base64DecodeBytes(encoded), data) << n;
    }
}

TEST(Base64, PaddingRulesOfTheLastGroup) {
    // Second or third character '=': one byte; fourth '=': two bytes.
    EXPECT_EQ(Base64DecodeBytes("QQ=="), "A");
    EXPECT_EQ(Base64DecodeBytes("QQ=x"), "A");
    EXPECT_EQ(Base64DecodeBytes("QUI="), "AB");
    EXPECT_EQ(Base64DecodeBytes("Q==="), "@"); // one digit then '=': one byte of its 6 bits
    // Unpadded final groups.
    EXPECT_EQ(Base64DecodeBytes("QQ"), "A");
    EXPECT_EQ(Base64DecodeBytes("QUI"), "AB");
    EXPECT_EQ(Base64DecodeBytes("QUJD"
                                "R"),
              "ABC"); // a lone last digit gives nothing
}

TEST(Base64, GarbageIsSkippedAndNeverOverruns) {
    EXPECT_EQ(Base64Decode("Zm9v\r\nYmFy"), "foobar");
    EXPECT_EQ(Base64Decode(" Z m 9 v "), "foo");
    EXPECT_EQ(Base64Decode("Zm\xff\x80"
                           "9v"),
              "foo");
    EXPECT_EQ(Base64Decode("!!!!"), "");
    EXPECT_EQ(Base64Decode("===="), "");
    EXPECT_EQ(Base64Decode("="), "");
    EXPECT_EQ(Base64Decode("A"), "");
    // '=' in the middle ends a group; decoding goes on after it.
    EXPECT_EQ(Base64Decode("Zg==Zm8="), "ffo");
    EXPECT_EQ(Base64Decode("Zm=9v"), "f\xF6"); // "Zm" ends at the "=", "9v" is a group of its own
    // Random garbage of every length: results are bounded (ASan checks the writes).
    for (size_t n = 0; n < 2000; ++n) {
        std::string junk(n % 97, '\0');
        RandomBytes(junk.data(), junk.size());
        std::string out = Base64DecodeBytes(junk);
        EXPECT_LE(out.size(), junk.size() * 3 / 4 + 1);
    }
}

TEST(Base64, PhotoTokenFields) {
    // A photo token decodes to "a|b|1388534400|c".
    std::string token = Base64Encode("a|b|1388534400|c");
    EXPECT_EQ(Base64Decode(token), "a|b|1388534400|c");
}
