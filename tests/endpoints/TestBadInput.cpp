// Hostile and malformed requests against every endpoint: each gets a clear answer of its usual
// shape, nothing is stored wrongly and nothing is written outside the temporary and repository
// folders.

#include "PhoneFixture.h"
#include "media/Base64.h"
#include "media/JsonText.h"
#include "net/QueryNumbers.h"
#include "net/UploadStaging.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <regex>

namespace {

bool IsJsonAnswer(const PhoneAnswer& answer) {
    Json::Value parsed;
    return answer.Status() == 200 && answer.Header("Content-Type") == "text/html" &&
           answer.Header("Content-Length") == std::to_string(answer.body.size()) &&
           !answer.body.empty() && answer.body.back() == '\n' &&
           (answer.body == "null\n" || JsonParse(answer.body, parsed));
}

bool IsStatusAnswer(const PhoneAnswer& answer) {
    return IsJsonAnswer(answer) &&
           (answer.body == StatusDocument("ok") || answer.body == StatusDocument("failed") ||
            answer.body == StatusDocument("duplication"));
}

} // namespace

TEST_F(PhoneTest, HostileRequestsGetAnswersOfTheUsualShape) {
    Pair("phone1", "Pixel");
    const std::string good = Photo(1);
    ASSERT_EQ(Upload("phone1", "name=keep.jpg&vmd5=" + Token("keep", 1400000000), good),
              StatusDocument("ok"));
    WaitImports();
    const Pid kept = Db().FindPidByMd5(Token("keep", 1400000000));
    ASSERT_NE(kept, 0);
    const PhoneClient phone = Phone();

    // "/verify": anything but an array of texts finds nothing and never fails.
    const std::string deep(100000, '[');
    for (const std::string& body :
         {std::string(), std::string("{"), std::string("{}"), std::string("null"),
          std::string("123"), std::string("\"x\""), std::string("[1, null, {}, [], true]"), deep,
          "[" + std::string(600, '9') + "]", "[\"" + std::string(1 << 20, 'a') + "\"]",
          std::string("\xff\xfe\x00\x01", 4), std::string("[\"\\u0000\"]")}) {
        PhoneAnswer answer = phone.Post("/verify?key=phone1", body);
        EXPECT_TRUE(IsJsonAnswer(answer)) << body.substr(0, 40);
        EXPECT_EQ(answer.body, "[]\n") << body.substr(0, 40);
    }
    // A known token among garbage is still found.
    EXPECT_EQ(
        phone.Post("/verify?key=phone1", "[1, \"" + Token("keep", 1400000000) + "\", {}]").body,
        "{\n\t\"" + Token("keep", 1400000000) + "\" : " + std::to_string(kept) + "\n}\n");

    // "/import": odd counters, tokens and names.
    const std::vector<std::string> importQueries = {
        "cur=abc&total=-1&speed=1e99&time=%ff",
        "cur=1&cur=2&cur=99999999999999999999&total=&total=3",
        "vmd5=%%%not-base64!!!&name=%00",
        "vmd5=" + Base64Encode("a|b|zz|c") + "&name=zz.jpg",
        "vmd5=" + Base64Encode("a|b|-99999999999999999999|c") + "&name=neg.jpg",
        "vmd5=" + Base64Encode("a|b|99999999999999999999|c") + "&name=far.jpg",
        "name=" + std::string(10000, 'n'),
        "name=" + std::string(300, '.'),
        "vmd5=&name=&cur=&total=&speed=&time=",
        "&&&===&",
    };
    for (const std::string& query : importQueries) {
        PhoneAnswer withBody = phone.Post("/import?key=phone1&" + query, "x");
        EXPECT_TRUE(IsStatusAnswer(withBody)) << query;
        PhoneAnswer withoutBody = phone.Post("/import?key=phone1&" + query, "");
        EXPECT_TRUE(IsStatusAnswer(withoutBody)) << query;
    }

    // Browsing with garbage paths and parameters.
    for (const std::string& target : {
             std::string("/album/%"),
             std::string("/album/%%%%"),
             "/album/" + std::string(10000, 'a'),
             std::string("/album/%00"),
             std::string("/album//////"),
             std::string("/time/////"),
             std::string("/time/%2F%2F%2F%2F"),
             std::string("/time/%zz/%zz"),
             std::string("/time/2014/01/01/01/01"),
             std::string("/date?device=%00"),
             std::string("/date?device=&device=nobody"),
             std::string("/exif/1e9"),
             std::string("/exif/%2d1"),
             std::string("/devices/extra?x"),
             std::string("/devices?&&&===&"),
         }) {
        PhoneAnswer answer =
            phone.Get(target + (target.find('?') == std::string::npos ? "?" : "&") + "key=phone1");
        EXPECT_TRUE(IsJsonAnswer(answer)) << target << "\n" << answer.raw.substr(0, 200);
    }
    for (const std::string& target :
         {std::string("/thumb/1?w=99999999999999999999&h=-99999999999999999999"),
          std::string("/thumb/%ff%fe?w=%&h=%%"), std::string("/image/%"),
          std::string("/image/1/../../../etc/passwd"), std::string("/thumb/..%2F..%2F")}) {
        PhoneAnswer answer = phone.Get(target + "&key=phone1");
        EXPECT_EQ(answer.Status(), 200) << target;
        EXPECT_EQ(answer.Header("Content-Type"), "image/jpeg") << target;
        EXPECT_EQ(answer.Header("Content-Length"), std::to_string(answer.body.size()));
    }

    // Nothing new was stored, the one real photo is intact, no device was added.
    WaitImports();
    int count = 0;
    int64_t bytes = 0;
    Db().GetStatistics(count, bytes, nullptr);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(ReadTestFile(Db().GetImagePath(kept)), good);
    std::map<std::string, AuthEntry> auth;
    Db().GetAuthList(auth);
    EXPECT_EQ(auth.size(), 1u);
    EXPECT_TRUE(Db().CheckLibrary().empty());

    // Files exist only in the library's own folders; the temporary folder empties once the
    // next upload settles after the rejected ones.
    ASSERT_EQ(Upload("phone1", "name=last.jpg&vmd5=" + Token("last", 1400000000), Photo(2)),
              StatusDocument("ok"));
    WaitImports();
    phone.Post("/verify?key=phone1", "[]");
    EXPECT_EQ(TempFolders(), 0u);
    std::error_code ec;
    for (fs::recursive_directory_iterator it(m_dir.Path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (!it->is_regular_file()) {
            continue;
        }
        const fs::path& file = it->path();
        bool inRepos = file.string().rfind(Repos().string() + "/", 0) == 0;
        bool inLibrary = file.parent_path() == Root() || file.parent_path() == Root() / "Thumb";
        EXPECT_TRUE(inRepos || inLibrary) << file;
    }
}

TEST(QueryNumbers, ReadLikeAtoiWithoutOverflow) {
    EXPECT_EQ(ParseInt32("42"), 42);
    EXPECT_EQ(ParseInt32("  -17xyz"), -17);
    EXPECT_EQ(ParseInt32("+8"), 8);
    EXPECT_EQ(ParseInt32(""), 0);
    EXPECT_EQ(ParseInt32("abc"), 0);
    EXPECT_EQ(ParseInt32("-"), 0);
    EXPECT_EQ(ParseInt32("2147483647"), INT32_MAX);
    EXPECT_EQ(ParseInt32("2147483648"), INT32_MAX);
    EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseInt32("-2147483649"), INT32_MIN);
    EXPECT_EQ(ParseInt32(std::string(5000, '9')), INT32_MAX);
    EXPECT_EQ(ParseInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ParseInt64("9223372036854775808"), INT64_MAX);
    EXPECT_EQ(ParseInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(ParseInt64("-99999999999999999999"), INT64_MIN);
    EXPECT_EQ(ParseInt64("0x10"), 0);
    EXPECT_EQ(ParseInt64("1e9"), 1);

    EXPECT_EQ(ClampedProductSum(100, 5, 1024, 7), 512007);
    EXPECT_EQ(ClampedProductSum(2000000, 3000, 1024, 0), int64_t{6144000000000});
    EXPECT_EQ(ClampedProductSum(INT32_MAX, INT32_MAX, 1024, 1), INT64_MAX);
    EXPECT_EQ(ClampedProductSum(INT32_MIN, INT32_MAX, 1024, 1), 0);
    EXPECT_EQ(ClampedProductSum(-5, 100, 1024, 1000), 0);
    EXPECT_EQ(ClampedProductSum(-5, -100, 1024, 0), 512000);
    EXPECT_EQ(ClampedProductSum(0, INT64_MAX, INT64_MAX, 5), 5);
    EXPECT_EQ(ClampedProductSum(1, 1, 1, INT64_MAX), INT64_MAX);
}

TEST(UploadNames, OnlyAPlainFileNameRemains) {
    EXPECT_EQ(SafeUploadName("IMG_0001.JPG"), "IMG_0001.JPG");
    EXPECT_EQ(SafeUploadName("../../x.jpg"), "x.jpg");
    EXPECT_EQ(SafeUploadName("a\\b/c.jpg"), "abc.jpg");
    EXPECT_EQ(SafeUploadName(std::string("a\0b.jpg", 7)), "ab.jpg");
    EXPECT_EQ(SafeUploadName("...."), "");
    EXPECT_EQ(SafeUploadName("..."), "");
    EXPECT_EQ(SafeUploadName(".hidden"), ".hidden");
    EXPECT_EQ(SafeUploadName("a...b"), "a.b");
    EXPECT_EQ(SafeUploadName(""), "");
    EXPECT_EQ(SafeUploadName("\x01\x1f\x7f"), "");
    EXPECT_EQ(SafeUploadName("照片.jpg"), "照片.jpg");
    EXPECT_EQ(SafeUploadName("a\xff.jpg"), "a\xEF\xBF\xBD.jpg");
    // Long names are cut at a character boundary and keep their extension.
    std::string longName;
    for (int i = 0; i < 100; ++i) {
        longName += "照";
    }
    std::string cut = SafeUploadName(longName + ".jpeg");
    EXPECT_LE(cut.size(), 200u);
    EXPECT_EQ(cut.substr(cut.size() - 5), ".jpeg");
    EXPECT_EQ((cut.size() - 5) % 3, 0u);
    EXPECT_TRUE(std::regex_match(FallbackUploadName(), std::regex("-?[0-9]+\\.jpg")));
}
