// HEIC photos through the real service as the phone sends them: pair, upload, "/verify",
// "/time", "/thumb", "/exif" and "/image"; damaged ones are not stored, and ones no decoder
// can read are stored and served as they are.
#include "PhoneFixture.h"
#include "media/CHBitmap.h"
#include "media/ExifReader.h"
#include "media/JsonText.h"
#include "tests/support/TestHeif.h"

#include <gtest/gtest.h>

namespace {

Json::Value Parsed(const std::string& text) {
    Json::Value value;
    EXPECT_TRUE(JsonParse(text, value)) << text;
    return value;
}

} // namespace

TEST_F(PhoneTest, HeicBacksUpAndBrowsesLikeAJpeg) {
    if (!HaveHeifTools()) {
        GTEST_SKIP() << "heif-enc or exiftool is not installed";
    }
    Pair("phone1", "Pixel");
    TempDir work("vellumo-heic");
    TestJpegOptions options;
    options.width = 640;
    options.height = 480;
    options.withExif = true;
    options.exif = {"2019:07:14 10:20:30", "Phone Maker", "Model 7", 6};
    const fs::path source = work / "source.jpg";
    ASSERT_TRUE(WriteTestJpeg(source, options));
    ASSERT_TRUE(HeifEncode(source, work / "IMG_1234.HEIC", 320));
    const std::string heic = ReadTestFile(work / "IMG_1234.HEIC");
    ASSERT_FALSE(heic.empty());

    const std::string token = Token("heic1", 1388534400);
    EXPECT_EQ(Upload("phone1", "name=IMG_1234.HEIC&vmd5=" + token + "&cur=1&total=1", heic),
              StatusDocument("ok"));
    WaitImports();
    const Pid pid = Db().FindPidByMd5(token);
    ASSERT_NE(pid, 0);
    const std::string id = std::to_string(pid);
    EXPECT_EQ(Phone().Post("/verify?key=phone1", "[\"" + token + "\"]").body,
              "{\n\t\"" + token + "\" : " + id + "\n}\n");
    // Dated by its EXIF, not by the upload's file time.
    EXPECT_EQ(Parsed(Phone().Get("/time/2019/07/14?key=phone1").body), Parsed("[" + id + "]"));

    Json::Value jpegExif;
    ASSERT_TRUE(ReadExif(source, jpegExif));
    EXPECT_EQ(Parsed(Phone().Get("/exif/" + id + "?key=phone1").body), jpegExif);

    const PhoneAnswer thumb = Phone().Get("/thumb/" + id + "?key=phone1&w=150&h=150");
    EXPECT_EQ(thumb.Header("Content-Type"), "image/jpeg");
    CHBitmap decoded;
    ASSERT_TRUE(decoded.LoadFromMemory(thumb.body.data(), thumb.body.size()));
    EXPECT_EQ(decoded.Width(), 150);
    EXPECT_EQ(decoded.Height(), 150);
    // A large thumbnail (the browser's full view) from the primary image.
    const PhoneAnswer large = Phone().Get("/thumb/" + id + "?key=phone1&w=32767&h=600");
    ASSERT_TRUE(decoded.LoadFromMemory(large.body.data(), large.body.size()));
    EXPECT_EQ(decoded.Height(), 480);

    // The original, unchanged; the phone app takes every photo under the JPEG type.
    const PhoneAnswer image = Phone().Get("/image/" + id + "?key=phone1");
    EXPECT_EQ(image.body, heic);
    EXPECT_EQ(image.Header("Content-Type"), "image/jpeg");
    EXPECT_EQ(image.Header("FileName"), "IMG_1234.HEIC");
}

TEST_F(PhoneTest, DamagedHeicIsRefusedUndecodableHeicIsServedAsItIs) {
    Pair("phone1", "Pixel");
    HeifBuilder builder = HeifBuilder::Photo(640, 480);
    builder.items[0].data = std::string(4000, '\x21'); // no decoder makes pixels of this
    const std::string undecodable = builder.Build();
    const std::string cut = undecodable.substr(0, undecodable.size() - 100);

    const std::string cutToken = Token("cut", 1388534400);
    const std::string oddToken = Token("odd", 1388534400);
    Upload("phone1", "name=CUT.HEIC&vmd5=" + cutToken + "&cur=1&total=2", cut);
    Upload("phone1", "name=ODD.HEIC&vmd5=" + oddToken + "&cur=2&total=2", undecodable);
    WaitImports();
    EXPECT_EQ(Db().FindPidByMd5(cutToken), 0);
    EXPECT_FALSE(fs::exists(Repos() / "Pixel" / "CUT.HEIC"));

    const Pid pid = Db().FindPidByMd5(oddToken);
    ASSERT_NE(pid, 0);
    const PhoneAnswer thumb = Phone().Get("/thumb/" + std::to_string(pid) + "?key=phone1");
    EXPECT_EQ(thumb.Status(), 200);
    EXPECT_EQ(thumb.body, undecodable);
    EXPECT_TRUE(Db().CheckLibrary().empty());
}
