#include "media/JsonText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Json::Value Parse(const std::string& text) {
    Json::Value v;
    std::string error;
    EXPECT_TRUE(JsonParse(text, v, &error)) << text << ": " << error;
    return v;
}

} // namespace

// ---- styled layout -------------------------------------------------------------------------

TEST(JsonStyled, NullRootIsNullAndLineFeed) {
    EXPECT_EQ(JsonStyled(Json::Value()), "null\n");
}

TEST(JsonStyled, EmptyArrayAndObject) {
    EXPECT_EQ(JsonStyled(Json::Value(Json::arrayValue)), "[]\n"); // "/verify" with nothing known
    EXPECT_EQ(JsonStyled(Json::Value(Json::objectValue)), "{}\n");
}

TEST(JsonStyled, StatusDocument) {
    Json::Value doc;
    doc["status"] = "ok";
    EXPECT_EQ(JsonStyled(doc), "{\n\t\"status\" : \"ok\"\n}\n");
}

TEST(JsonStyled, IdentityObjectMembersAscending) {
    Json::Value doc;
    doc["version"] = "1.2";
    doc["id"] = "0123456789ABCDEF0123456789ABCDEF";
    doc["host"] = "pc";
    const std::string text = JsonStyled(doc);
    EXPECT_EQ(text, "{\n\t\"host\" : \"pc\",\n\t\"id\" : \"0123456789ABCDEF0123456789ABCDEF\",\n"
                    "\t\"version\" : \"1.2\"\n}\n");
    // "/echo": with every "\n" removed the tabs and " : " stay.
    std::string oneLine;
    for (char c : text) {
        if (c != '\n') {
            oneLine += c;
        }
    }
    EXPECT_EQ(oneLine, "{\t\"host\" : \"pc\",\t\"id\" : \"0123456789ABCDEF0123456789ABCDEF\","
                       "\t\"version\" : \"1.2\"}");
}

TEST(JsonStyled, AuthSuccessDocument) {
    Json::Value doc;
    doc["status"] = "ok";
    doc["newAuthDevice"] = 1;
    doc["host"] = "pc";
    doc["id"] = "ID";
    doc["version"] = "1.2";
    EXPECT_EQ(JsonStyled(doc),
              "{\n\t\"host\" : \"pc\",\n\t\"id\" : \"ID\",\n\t\"newAuthDevice\" : 1,\n"
              "\t\"status\" : \"ok\",\n\t\"version\" : \"1.2\"\n}\n");
}

TEST(JsonStyled, VerifyResultObject) {
    Json::Value doc;
    doc["tokenB"] = Json::Int64(9007199254740993LL);
    doc["tokenA"] = Json::Int64(12);
    EXPECT_EQ(JsonStyled(doc), "{\n\t\"tokenA\" : 12,\n\t\"tokenB\" : 9007199254740993\n}\n");
}

TEST(JsonStyled, DevicesDocumentNestedObjectAndShortArray) {
    Json::Value doc;
    doc["localhost"]["name"] = "bG9jYWxob3N0";
    doc["localhost"]["imgs"].append(1);
    doc["localhost"]["imgs"].append(2);
    doc["localhost"]["imgs"].append(3);
    doc["abc"]["name"] = "QUJD";
    doc["abc"]["imgs"] = Json::Value(Json::arrayValue);
    EXPECT_EQ(JsonStyled(doc), "{\n"
                               "\t\"abc\" : {\n"
                               "\t\t\"imgs\" : [],\n"
                               "\t\t\"name\" : \"QUJD\"\n"
                               "\t},\n"
                               "\t\"localhost\" : {\n"
                               "\t\t\"imgs\" : [ 1, 2, 3 ],\n"
                               "\t\t\"name\" : \"bG9jYWxob3N0\"\n"
                               "\t}\n"
                               "}\n");
}

TEST(JsonStyled, AlbumDocument) {
    Json::Value doc;
    Json::Value& f = doc["folder"]["VHJpcA=="];
    f["path"] = "MjAxNC9Ucmlw";
    f["thumb"] = Json::Int64(7);
    doc["images"].append(Json::Int64(5));
    EXPECT_EQ(JsonStyled(doc), "{\n"
                               "\t\"folder\" : {\n"
                               "\t\t\"VHJpcA==\" : {\n"
                               "\t\t\t\"path\" : \"MjAxNC9Ucmlw\",\n"
                               "\t\t\t\"thumb\" : 7\n"
                               "\t\t}\n"
                               "\t},\n"
                               "\t\"images\" : [ 5 ]\n"
                               "}\n");
}

TEST(JsonStyled, TimeListOfTexts) {
    Json::Value doc;
    doc.append("2013");
    doc.append("2014");
    EXPECT_EQ(JsonStyled(doc), "[ \"2013\", \"2014\" ]\n");
}

TEST(JsonStyled, ArrayOf24SmallScalarsOnOneLine) {
    Json::Value doc;
    std::string expected = "[ ";
    for (int i = 0; i < 24; ++i) {
        doc.append(i % 10);
        expected += (i ? ", " : "") + std::to_string(i % 10);
    }
    expected += " ]\n";
    // 4 + 23*2 + 24 = 74 >= 74: too long for one line after all.
    EXPECT_NE(JsonStyled(doc), expected);
    Json::Value shorter;
    std::string expected2 = "[ ";
    for (int i = 0; i < 23; ++i) {
        shorter.append(i % 10);
        expected2 += (i ? ", " : "") + std::to_string(i % 10);
    }
    expected2 += " ]\n"; // 4 + 22*2 + 23 = 71 < 74
    EXPECT_EQ(JsonStyled(shorter), expected2);
}

TEST(JsonStyled, TwentyFiveScalarsAreOnePerLine) {
    Json::Value doc;
    std::string expected = "[\n";
    for (int i = 0; i < 25; ++i) {
        doc.append(1);
        expected += std::string("\t1") + (i < 24 ? ",\n" : "\n");
    }
    expected += "]\n";
    EXPECT_EQ(JsonStyled(doc), expected);
}

TEST(JsonStyled, LineLengthBoundary) {
    // Two strings: 4 + 2 + len1 + len2; 73 fits, 74 does not.
    Json::Value fits;
    fits.append(std::string(33, 'a')); // quoted 35
    fits.append(std::string(30, 'b')); // quoted 32 -> 4 + 2 + 35 + 32 = 73
    EXPECT_EQ(JsonStyled(fits),
              "[ \"" + std::string(33, 'a') + "\", \"" + std::string(30, 'b') + "\" ]\n");
    Json::Value tooLong;
    tooLong.append(std::string(33, 'a'));
    tooLong.append(std::string(31, 'b')); // 74
    EXPECT_EQ(JsonStyled(tooLong),
              "[\n\t\"" + std::string(33, 'a') + "\",\n\t\"" + std::string(31, 'b') + "\"\n]\n");
}

TEST(JsonStyled, LongArrayInsideObjectUsesPrecomputedElements) {
    Json::Value doc;
    for (int i = 0; i < 20; ++i) {
        doc["pids"].append(Json::Int64(1000000 + i));
    }
    std::string expected = "{\n\t\"pids\" : [\n";
    for (int i = 0; i < 20; ++i) {
        expected += "\t\t" + std::to_string(1000000 + i) + (i < 19 ? ",\n" : "\n");
    }
    expected += "\t]\n}\n";
    EXPECT_EQ(JsonStyled(doc), expected);
}

TEST(JsonStyled, ArrayOfArraysAndObjects) {
    Json::Value doc = Parse("[[1,2],[3],{\"a\":1},[],{}]");
    EXPECT_EQ(JsonStyled(doc),
              "[\n\t[ 1, 2 ],\n\t[ 3 ],\n\t{\n\t\t\"a\" : 1\n\t},\n\t[],\n\t{}\n]\n");
}

TEST(JsonStyled, EmptyContainersStayOnOneLine) {
    Json::Value doc = Parse("[[],{},1]");
    EXPECT_EQ(JsonStyled(doc), "[ [], {}, 1 ]\n");
}

TEST(JsonStyled, ScalarsRoots) {
    EXPECT_EQ(JsonStyled(Json::Value(true)), "true\n");
    EXPECT_EQ(JsonStyled(Json::Value("x")), "\"x\"\n");
    EXPECT_EQ(JsonStyled(Json::Value(Json::Int64(-9223372036854775807LL - 1))),
              "-9223372036854775808\n");
    EXPECT_EQ(JsonStyled(Json::Value(Json::UInt64(18446744073709551615ULL))),
              "18446744073709551615\n");
}

TEST(JsonStyled, RealsWithPercentG) {
    EXPECT_EQ(JsonStyled(Json::Value(1.5)), "1.5\n");
    EXPECT_EQ(JsonStyled(Json::Value(0.1)), "0.1\n");
    EXPECT_EQ(JsonStyled(Json::Value(1234567.0)), "1.23457e+06\n");
    EXPECT_EQ(JsonStyled(Json::Value(2.0)), "2\n");
}

TEST(JsonStyled, Utf8UnchangedAndOnlyFiveControlEscapes) {
    Json::Value doc;
    doc["名字"] = "照片\"\\\b\f\n\r\t/\x01";
    EXPECT_EQ(JsonStyled(doc), "{\n\t\"名字\" : \"照片\\\"\\\\\\b\\f\\n\\r\\t/\x01\"\n}\n");
}

TEST(JsonStyled, EmbeddedZeroIsKept) {
    Json::Value doc(std::string("a\0b", 3));
    EXPECT_EQ(JsonStyled(doc), std::string("\"a\0b\"\n", 6));
}

// ---- compact layout -----------------------------------------------------------------------

TEST(JsonCompact, Layout) {
    Json::Value doc =
        Parse("{\"b\":[1,2.5,\"x\"],\"a\":{\"c\":null,\"d\":true},\"e\":[],\"f\":{}}");
    EXPECT_EQ(JsonCompact(doc),
              "{\"a\":{\"c\":null,\"d\":true},\"b\":[1,2.5,\"x\"],\"e\":[],\"f\":{}}\n");
    EXPECT_EQ(JsonCompact(Json::Value()), "null\n");
    EXPECT_EQ(JsonCompact(Json::Value("é\n")), "\"é\\n\"\n");
}

// ---- reader -------------------------------------------------------------------------------

TEST(JsonParse, Basics) {
    Json::Value v = Parse(" { \"a\" : [1, -2, 3.25, true, false, null, \"s\"] } ");
    ASSERT_TRUE(v.isObject());
    const Json::Value& a = v["a"];
    ASSERT_EQ(a.size(), 7u);
    EXPECT_EQ(a[0].type(), Json::intValue);
    EXPECT_EQ(a[1].asInt64(), -2);
    EXPECT_EQ(a[2].asDouble(), 3.25);
    EXPECT_TRUE(a[3].asBool());
    EXPECT_TRUE(a[5].isNull());
    EXPECT_EQ(a[6].asString(), "s");
}

TEST(JsonParse, UnicodeEscapeKeptUndecoded) {
    Json::Value v = Parse("[\"a\\u00e9b\", \"\\/\\n\"]");
    EXPECT_EQ(v[0].asString(), "a\\u00e9b");
    EXPECT_EQ(v[1].asString(), "/\n");
    // Written back, the backslash is escaped.
    EXPECT_EQ(JsonCompact(v), "[\"a\\\\u00e9b\",\"/\\n\"]\n");
}

TEST(JsonParse, Utf8PassesThrough) {
    Json::Value v = Parse("{\"名\":\"照片\"}");
    EXPECT_EQ(v["名"].asString(), "照片");
}

TEST(JsonParse, IntegersAre64Bit) {
    Json::Value v = Parse("[9223372036854775807, -9223372036854775808, 18446744073709551615, "
                          "18446744073709551616, 1e3]");
    EXPECT_EQ(v[0].type(), Json::intValue);
    EXPECT_EQ(v[0].asInt64(), INT64_MAX);
    EXPECT_EQ(v[1].asInt64(), INT64_MIN);
    EXPECT_EQ(v[2].type(), Json::uintValue);
    EXPECT_EQ(v[3].type(), Json::realValue);
    EXPECT_EQ(v[4].type(), Json::realValue);
}

TEST(JsonParse, NumberTokenOver512CharactersIsRejected) {
    std::string token(513, '1');
    Json::Value v(5);
    std::string error;
    EXPECT_FALSE(JsonParse("[" + token + "]", v, &error));
    EXPECT_EQ(error, "'" + token + "' is too large or not a number.");
    EXPECT_TRUE(v.isNull());
    // 512 characters are still read (as a real number here).
    std::string ok = "0." + std::string(510, '5');
    EXPECT_TRUE(JsonParse(ok, v, &error)) << error;
}

TEST(JsonParse, HugeExponentIsRejected) {
    Json::Value v;
    std::string error;
    EXPECT_FALSE(JsonParse("1e999", v, &error));
    EXPECT_EQ(error, "'1e999' is too large or not a number.");
}

TEST(JsonParse, DepthLimit) {
    Json::Value v;
    std::string ok = std::string(kJsonMaxDepth, '[') + std::string(kJsonMaxDepth, ']');
    EXPECT_TRUE(JsonParse(ok, v));
    std::string deep = std::string(kJsonMaxDepth + 1, '[') + std::string(kJsonMaxDepth + 1, ']');
    std::string error;
    EXPECT_FALSE(JsonParse(deep, v, &error));
    EXPECT_FALSE(error.empty());
    std::string veryDeep(1000000, '[');
    EXPECT_FALSE(JsonParse(veryDeep, v));
    std::string objects;
    for (int i = 0; i < 100000; ++i) {
        objects += "{\"a\":";
    }
    EXPECT_FALSE(JsonParse(objects, v));
}

TEST(JsonParse, Malformed) {
    const char* bad[] = {"",           "   ",         "[",      "]",     "{",     "{\"a\"}",
                         "{\"a\":}",   "{a:1}",       "[1,]",   "[1 2]", "\"abc", "\"\\x\"",
                         "\"\\u12\"",  "\"\\u12g4\"", "tru",    "nul",   "-",     "1e",
                         "{\"a\":1,}", "/* x",        "[1,,2]", "+1",    ".5"};
    for (const char* text : bad) {
        Json::Value v(7);
        std::string error;
        EXPECT_FALSE(JsonParse(text, v, &error)) << text;
        EXPECT_TRUE(v.isNull()) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(JsonParse, CommentsAndTrailingTextLikeJsoncpp) {
    Json::Value v = Parse("// c\n[1, /* two */ 2]");
    EXPECT_EQ(v.size(), 2u);
    v = Parse("[1] trailing");
    EXPECT_EQ(v.size(), 1u);
}

TEST(JsonParse, DuplicateKeyLaterWins) {
    Json::Value v = Parse("{\"a\":1,\"a\":[2]}");
    EXPECT_TRUE(v["a"].isArray());
}

TEST(JsonParse, EmbeddedZeroInStrings) {
    Json::Value v;
    const char text[] = "{\"k\\u0000\":\"a\0b\"}";
    ASSERT_TRUE(JsonParse(std::string(text, sizeof(text) - 1), v));
    EXPECT_EQ(v.getMemberNames()[0], "k\\u0000");
    EXPECT_EQ(JsonAsText(v["k\\u0000"]), std::string("a\0b", 3));
}

TEST(JsonParse, RoundTripStable) {
    const char* docs[] = {"{\"z\":[1,2,{\"q\":\"\\t\"}],\"a\":-0.000123,\"m\":\"é\"}", "[[[[]]]]",
                          "[1.7976931348623157e308, 5e-324, -0.5]"};
    for (const char* text : docs) {
        Json::Value v = Parse(text);
        std::string styled = JsonStyled(v);
        Json::Value again = Parse(styled);
        EXPECT_EQ(JsonStyled(again), styled);
        EXPECT_EQ(JsonCompact(Parse(JsonCompact(v))), JsonCompact(v));
    }
}

// ---- typed readers ------------------------------------------------------------------------

TEST(JsonParse, NegativeZeroSettlesAfterOneMoreRound) {
    // "%g" writes -0.0 as "-0", which reads back as the integer 0 (as in jsoncpp).
    Json::Value v = Parse("-0.0");
    EXPECT_EQ(JsonCompact(v), "-0\n");
    EXPECT_EQ(JsonCompact(Parse(JsonCompact(v))), "0\n");
}

TEST(JsonAsText, EveryType) {
    EXPECT_EQ(JsonAsText(Json::Value()), "");
    EXPECT_EQ(JsonAsText(Json::Value(Json::Int64(-42))), "-42");
    EXPECT_EQ(JsonAsText(Json::Value(Json::UInt64(18446744073709551615ULL))),
              "18446744073709551615");
    EXPECT_EQ(JsonAsText(Json::Value(1.5)), "1.500000");
    EXPECT_EQ(JsonAsText(Json::Value(true)), "true");
    EXPECT_EQ(JsonAsText(Json::Value(false)), "false");
    EXPECT_EQ(JsonAsText(Json::Value("t")), "t");
    EXPECT_EQ(JsonAsText(Json::Value(Json::arrayValue)), "array");
    EXPECT_EQ(JsonAsText(Json::Value(Json::objectValue)), "object");
    EXPECT_FALSE(JsonAsText(Json::Value(1e300)).empty());
}

TEST(JsonAsInt64, EveryType) {
    EXPECT_EQ(JsonAsInt64(Json::Value("123")), 123);
    EXPECT_EQ(JsonAsInt64(Json::Value(" -77abc")), -77);
    EXPECT_EQ(JsonAsInt64(Json::Value("abc")), 0);
    EXPECT_EQ(JsonAsInt64(Json::Value("")), 0);
    EXPECT_EQ(JsonAsInt64(Json::Value("99999999999999999999999")), INT64_MAX);
    EXPECT_EQ(JsonAsInt64(Json::Value("-99999999999999999999999")), INT64_MIN);
    EXPECT_EQ(JsonAsInt64(Json::Value("-9223372036854775808")), INT64_MIN);
    EXPECT_EQ(JsonAsInt64(Json::Value("9223372036854775807")), INT64_MAX);
    EXPECT_EQ(JsonAsInt64(Json::Value(Json::UInt64(18446744073709551615ULL))), INT64_MAX);
    EXPECT_EQ(JsonAsInt64(Json::Value(2.9)), 2);
    EXPECT_EQ(JsonAsInt64(Json::Value(-2.9)), -2);
    EXPECT_EQ(JsonAsInt64(Json::Value(1e300)), INT64_MAX);
    EXPECT_EQ(JsonAsInt64(Json::Value(-1e300)), INT64_MIN);
    EXPECT_EQ(JsonAsInt64(Json::Value(true)), 1);
    EXPECT_EQ(JsonAsInt64(Json::Value()), 0);
    EXPECT_EQ(JsonAsInt64(Json::Value(Json::arrayValue)), 0);
    EXPECT_EQ(JsonAsInt64(Json::Value(Json::objectValue)), 0);
}

TEST(JsonMember, NeverThrows) {
    Json::Value doc = Parse("{\"a\":1}");
    EXPECT_EQ(JsonMember(doc, "a").asInt(), 1);
    EXPECT_TRUE(JsonMember(doc, "b").isNull());
    EXPECT_TRUE(JsonMember(Json::Value(5), "a").isNull());
    EXPECT_TRUE(JsonMember(Parse("[1]"), "a").isNull());
    EXPECT_TRUE(JsonMember(doc, nullptr).isNull());
    // Wrong types through the typed readers
    EXPECT_EQ(JsonAsInt64(JsonMember(JsonMember(doc, "a"), "x")), 0);
    EXPECT_EQ(JsonAsText(JsonMember(Json::Value(), "x")), "");
}
