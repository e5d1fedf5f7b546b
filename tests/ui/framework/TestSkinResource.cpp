// The skin package reader and the resource's lookups, including packages and documents that
// are damaged or hostile.

#include "media/Base64.h"
#include "media/CHBitmap.h"
#include "media/CHPngEncoder.h"
#include "tests/support/TestBitmaps.h"
#include "tests/support/TestDirs.h"
#include "ui/framework/UIResource.h"
#include "ui/framework/UISkinPackage.h"

#include <gtest/gtest.h>
#include <json/value.h>
#include <pango/pango.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Blobs = std::vector<std::pair<uint32_t, std::string>>;

std::string Png(const CHBitmap& bitmap) {
    std::string out;
    EXPECT_TRUE(CHPngEncoder::Encode(bitmap, out));
    return out;
}

void PutU32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

bool Load(UIResource& resource, const std::string& package) {
    return resource.LoadFromMemory(package.data(), package.size());
}

// A resource holding json with the given blobs.
bool LoadJson(UIResource& resource, const std::string& json, const Blobs& blobs = {}) {
    return Load(resource, BuildSkinPackage(json, blobs));
}

bool IsZero(const SkinImageStyle& s) {
    return !s.bgBitmap && !s.fgBitmap && s.bgW == 0 && s.bgH == 0 && s.fgW == 0 && s.fgH == 0;
}

// ---- the container -------------------------------------------------------------------------

TEST(SkinPackage, SplitsJsonAndBlobsAtExactBoundaries) {
    std::string package =
        BuildSkinPackage(std::string("{}\n\0", 4), {{7, "abc"}, {9, ""}, {7, "xyz"}});
    SkinPackageContents contents;
    ASSERT_TRUE(ParseSkinPackage(package, contents));
    EXPECT_EQ(contents.json, "{}\n"); // trailing NUL dropped
    ASSERT_EQ(contents.blobs.size(), 2u);
    EXPECT_EQ(contents.blobs[7], "xyz"); // a later duplicate replaces an earlier one
    EXPECT_EQ(contents.blobs[9], "");
    // Trailing bytes after the last blob are ignored.
    EXPECT_TRUE(ParseSkinPackage(package + "junk", contents));
    // Every shorter prefix is refused: some length or size always runs past the end.
    for (size_t cut = 0; cut < package.size(); ++cut) {
        EXPECT_FALSE(ParseSkinPackage(std::string_view(package).substr(0, cut), contents)) << cut;
        EXPECT_TRUE(contents.blobs.empty());
    }
}

TEST(SkinPackage, RefusesLengthsAndCountsBeyondTheBytesLeft) {
    const std::string good = BuildSkinPackage("{}", {{1, "abcd"}});
    SkinPackageContents contents;
    std::string bad = good;
    bad[0] = 'x';
    EXPECT_FALSE(ParseSkinPackage(bad, contents)); // magic
    bad = good;
    PutU32(bad, 4, 0xFFFFFFFF); // JSON length
    EXPECT_FALSE(ParseSkinPackage(bad, contents));
    bad = good;
    PutU32(bad, 10, 0x20000000); // blob count far beyond what the bytes can hold
    EXPECT_FALSE(ParseSkinPackage(bad, contents));
    bad = good;
    PutU32(bad, 18, 5); // blob size one past the end
    EXPECT_FALSE(ParseSkinPackage(bad, contents));
    bad = good;
    PutU32(bad, 18, 0xFFFFFFFF);
    EXPECT_FALSE(ParseSkinPackage(bad, contents));
}

TEST(SkinPackage, IgnoresBlobIdsAboveTheSigned32BitRange) {
    std::string package =
        BuildSkinPackage("{}", {{0x7FFFFFFF, "max"}, {0x80000000u, "neg"}, {0xFFFFFFFF, "m1"}});
    SkinPackageContents contents;
    ASSERT_TRUE(ParseSkinPackage(package, contents));
    ASSERT_EQ(contents.blobs.size(), 1u);
    EXPECT_EQ(contents.blobs[0x7FFFFFFF], "max");
}

// ---- loading -------------------------------------------------------------------------------

TEST(SkinResource, ABadPackageLoadsNothing) {
    UIResource resource;
    std::string json = R"({"cfg":{"A":{"v":5}},"res":{}})";
    ASSERT_TRUE(LoadJson(resource, json));
    EXPECT_EQ(resource.GetInt("A/v", nullptr), 5);

    // A damaged package after a good one leaves the resource empty, not half-loaded.
    std::string truncated = BuildSkinPackage(json, {{1, "abc"}});
    truncated.pop_back();
    EXPECT_FALSE(Load(resource, truncated));
    EXPECT_FALSE(resource.IsLoaded());
    EXPECT_EQ(resource.GetInt("A/v", nullptr), 0);
    EXPECT_EQ(resource.FindNode("A", nullptr), nullptr);

    EXPECT_FALSE(LoadJson(resource, R"({"cfg":)")); // JSON syntax error
    EXPECT_FALSE(LoadJson(resource, R"([1,2,3])")); // not an object
    EXPECT_FALSE(resource.LoadFromMemory(nullptr, 10));
    EXPECT_FALSE(resource.LoadFromFile("/nonexistent/skin.uir"));
    EXPECT_FALSE(resource.LoadFromModule(nullptr, "UIR", 987654));
    EXPECT_TRUE(IsZero(resource.GetImageStyle("A", nullptr)));
    EXPECT_TRUE(resource.GetTextStyle("A", nullptr).text.empty());

    // No blobs at all: the document loads and yields no pictures or fonts.
    ASSERT_TRUE(LoadJson(resource,
                         R"({"cfg":{"S":{"bi":1000,"ft":1007}},"res":{"images":[{"id":1000}]}})"));
    EXPECT_TRUE(IsZero(resource.GetImageStyle("S", nullptr)));
    EXPECT_EQ(resource.GetFont(1007), nullptr);
}

TEST(SkinResource, LoadsAPackageFile) {
    TempDir dir;
    ASSERT_TRUE(WriteTestFile(dir / "skin.uir", BuildSkinPackage(R"({"cfg":{"A":3}})", {})));
    ASSERT_TRUE(WriteTestFile(dir / "bad.uir", "not a package"));
    UIResource resource;
    EXPECT_TRUE(resource.LoadFromFile(dir / "skin.uir"));
    EXPECT_EQ(resource.GetInt("A", nullptr), 3);
    EXPECT_FALSE(resource.LoadFromFile(dir / "bad.uir"));
    EXPECT_FALSE(resource.LoadFromFile(dir.Path())); // a folder
    EXPECT_EQ(resource.GetInt("A", nullptr), 0);
}

TEST(SkinResource, KeepsOnlyBlobsASectionNamesWithLenientIds) {
    UIResource resource;
    std::string json = R"({"cfg":{},"res":{
        "images":[{"id":"12"},{"id":true},{"id":13.9},{"id":4294967297},{"id":-5},{"name":"no id"},7],
        "fonts":"not an array", "other":[{"id":20}]}})";
    Blobs blobs = {{12, "twelve"}, {1, "one"},     {13, "thirteen"},
                   {1, "one"},     {20, "twenty"}, {99, "unnamed"}};
    ASSERT_TRUE(LoadJson(resource, json, blobs));
    std::string out;
    EXPECT_TRUE(resource.GetBlob("images", 12, out));
    EXPECT_EQ(out, "twelve");
    EXPECT_TRUE(resource.GetBlob("images", 1, out));
    EXPECT_TRUE(resource.GetBlob("images", 13, out));
    EXPECT_TRUE(resource.GetBlob("other", 20, out));
    EXPECT_FALSE(resource.GetBlob("images", 99, out)); // no section names it
    EXPECT_FALSE(resource.GetBlob("images", 20, out)); // named by another section only
    EXPECT_FALSE(resource.GetBlob("fonts", 1, out));
    EXPECT_TRUE(out.empty());
}

// ---- lookups -------------------------------------------------------------------------------

TEST(SkinResource, LookupsThroughWrongTypesNeverThrow) {
    UIResource resource;
    ASSERT_TRUE(LoadJson(resource, R"({"cfg":{
        "Arr":[1,2,3], "Num":7, "Str":"x", "Null":null, "Big":1e300, "Neg":-1e300,
        "Text":"42", "Bool":true, "U":18446744073709551615,
        "R3":[1,2,3], "R4":[1,"2",3.7,true], "R4big":[1e20,-1e20,0,0], "P":[4,5], "C":[300,-4,128],
        "Node":{"bi":"oops","fi":[1],"bg":{"x":1},"mg":"no","ft":{},"cr":"red","al":[],"tx":5}},
        "res":[]})"));
    for (const char* path :
         {"Arr/x", "Num/x", "Str/x", "Null/x", "Arr/0", "Num/Num/Num", "Node/bi/x", "Node/fi/0"}) {
        EXPECT_EQ(resource.FindNode(path, nullptr), nullptr) << path;
        EXPECT_EQ(resource.GetInt(path, nullptr), 0) << path;
        EXPECT_TRUE(IsZero(resource.GetImageStyle(path, nullptr))) << path;
    }
    EXPECT_EQ(resource.GetInt("Big", nullptr), INT32_MAX);
    EXPECT_EQ(resource.GetInt("Neg", nullptr), INT32_MIN);
    EXPECT_EQ(resource.GetInt("U", nullptr), INT32_MAX);
    EXPECT_EQ(resource.GetInt("Text", nullptr), 0); // texts are not integers
    EXPECT_EQ(resource.GetInt("Bool", nullptr), 1);
    EXPECT_EQ(resource.GetInt("Arr", nullptr), 0);
    EXPECT_EQ(resource.GetRect("R3", nullptr), (SkinQuad{0, 0, 0, 0}));
    EXPECT_EQ(resource.GetRect("R4", nullptr), (SkinQuad{1, 0, 3, 1}));
    EXPECT_EQ(resource.GetRect("R4big", nullptr), (SkinQuad{INT32_MAX, INT32_MIN, 0, 0}));
    EXPECT_EQ(resource.GetPair("P", nullptr), (SkinPair{4, 5}));
    EXPECT_EQ(resource.GetPair("R3", nullptr), (SkinPair{0, 0}));
    EXPECT_EQ(resource.GetColor("C", nullptr), SkinRgb(255, 0, 128));
    EXPECT_EQ(resource.GetColor("P", nullptr), 0u);
    // Empty components are skipped; the start node is honoured; lookups are case-sensitive.
    EXPECT_EQ(resource.GetInt("//Num//", nullptr), 7);
    EXPECT_EQ(resource.GetInt("num", nullptr), 0);
    const Json::Value* node = resource.FindNode("Node", nullptr);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(resource.FindNode("", node), node);
    SkinTextStyle text = resource.GetTextStyle("Node", nullptr);
    EXPECT_EQ(text.font, nullptr);
    EXPECT_EQ(text.color, 0u);
    EXPECT_TRUE(text.text.empty());
    EXPECT_TRUE(IsZero(resource.GetImageStyle("Node", nullptr)));
}

TEST(SkinResource, ImageStylesClipSourcesAndMissOnAbsentImages) {
    UIResource resource;
    CHBitmap sheet = MakeSolidBitmap(40, 30, 0xFF102030, 24);
    std::string json = R"({"cfg":{
        "Inside":{"bi":1000,"bg":[5,5,10,10],"bc":[255,0,255],"mg":[1,2,3,4],"md":2,
                  "fi":1000,"fg":[0,0,8,8],"of":[3,-4],"al":16},
        "Over":{"bi":1000,"bg":[30,20,50,50],"fi":1000,"fg":[-10,-10,15,15]},
        "Outside":{"bi":1000,"bg":[100,100,5,5]},
        "Absent":{"bi":1001,"bg":[0,0,5,5],"mg":[1,1,1,1],"fi":1000,"fg":[0,0,2,2]}},
        "res":{"images":[{"id":1000},{"id":1001}]}})";
    ASSERT_TRUE(LoadJson(resource, json, {{1000, Png(sheet)}}));
    SkinImageStyle s = resource.GetImageStyle("Inside", nullptr);
    ASSERT_NE(s.bgBitmap, nullptr);
    EXPECT_EQ(s.bgBitmap, s.fgBitmap); // one cached picture
    EXPECT_EQ((std::vector<int>{s.bgX, s.bgY, s.bgW, s.bgH}), (std::vector<int>{5, 5, 10, 10}));
    EXPECT_EQ(s.bgKey, SkinRgb(255, 0, 255));
    EXPECT_EQ(s.fgKey, kNoColorKey);
    EXPECT_EQ(
        (std::vector<int>{s.marginLeft, s.marginTop, s.marginRight, s.marginBottom, s.drawMode}),
        (std::vector<int>{1, 2, 3, 4, 2}));
    EXPECT_EQ((std::vector<int>{s.align, s.offsetX, s.offsetY}), (std::vector<int>{16, 3, -4}));

    s = resource.GetImageStyle("Over", nullptr);
    EXPECT_EQ((std::vector<int>{s.bgX, s.bgY, s.bgW, s.bgH}), (std::vector<int>{30, 20, 10, 10}));
    EXPECT_EQ((std::vector<int>{s.fgX, s.fgY, s.fgW, s.fgH}), (std::vector<int>{0, 0, 5, 5}));
    s = resource.GetImageStyle("Outside", nullptr);
    EXPECT_EQ(s.bgW, 0);
    EXPECT_EQ(s.bgH, 0);
    // A background whose picture is absent leaves every background field 0; the foreground
    // is read independently.
    s = resource.GetImageStyle("Absent", nullptr);
    EXPECT_EQ(s.bgBitmap, nullptr);
    EXPECT_EQ(s.marginLeft, 0);
    EXPECT_NE(s.fgBitmap, nullptr);
}

TEST(SkinResource, APictureThatFailsToDecodeIsTriedOnce) {
    UIResource resource;
    std::string json = R"({"cfg":{"S":{"bi":5,"bg":[0,0,1,1]}},"res":{"images":[{"id":5}]}})";
    ASSERT_TRUE(LoadJson(resource, json, {{5, "\x89PNG\r\n\x1a\n not really"}}));
    for (int paint = 0; paint < 5; ++paint) {
        EXPECT_EQ(resource.GetImageStyle("S", nullptr).bgBitmap, nullptr);
        EXPECT_EQ(resource.GetImage(5, true), nullptr);
    }
    EXPECT_EQ(resource.DecodeCount(), 1u);
}

TEST(SkinResource, TextStylesDecodeTheirTextAndFonts) {
    UIResource resource;
    std::string font = R"({"Height":-16,"Weight":700,"CharSet":134,"FaceName":")" +
                       Base64Encode("Noto Sans CJK SC") + R"("})";
    std::string json = R"({"cfg":{"T":{"ft":1007,"cr":3828717,"of":[1,2],"al":37,"tx":")" +
                       Base64Encode("设置\xff") + R"("}},
        "res":{"fonts":[{"id":1006},{"id":1007}]}})";
    ASSERT_TRUE(LoadJson(resource, json, {{1006, "null\n"}, {1007, font}}));
    SkinTextStyle t = resource.GetTextStyle("T", nullptr);
    ASSERT_NE(t.font, nullptr);
    EXPECT_EQ(t.font, resource.GetFont(1007)); // cached
    EXPECT_EQ(pango_font_description_get_weight(t.font), PANGO_WEIGHT_BOLD);
    EXPECT_EQ(pango_font_description_get_size(t.font), 16 * PANGO_SCALE);
    EXPECT_TRUE(pango_font_description_get_size_is_absolute(t.font));
    EXPECT_STREQ(pango_font_description_get_family(t.font), "Noto Sans CJK SC");
    EXPECT_EQ(t.color, 3828717u);
    EXPECT_EQ(t.align, 37u);
    EXPECT_EQ(t.offsetX, 1);
    EXPECT_EQ(t.offsetY, 2);
    EXPECT_EQ(t.text, "设置\xEF\xBF\xBD"); // invalid UTF-8 replaced
    // "null" gives the system's interface font; a font id nobody names gives none.
    const PangoFontDescription* plain = resource.GetFont(1006);
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(pango_font_description_equal(plain, resource.GetDefaultFont()));
    EXPECT_EQ(resource.GetFont(0), nullptr);
    EXPECT_EQ(resource.GetFont(4242), nullptr);
    EXPECT_EQ(pango_font_description_get_weight(resource.GetDefaultBoldFont()), PANGO_WEIGHT_BOLD);
}

TEST(SkinResource, FontRecordsAreCutAndClamped) {
    UIResource resource;
    std::string longName(40, 'F');
    auto record = [](const std::string& fields) { return "{" + fields + "}"; };
    std::string json =
        R"({"cfg":{},"res":{"fonts":[{"id":1},{"id":2},{"id":3},{"id":4},{"id":5}]}})";
    Blobs blobs = {
        {1, record(R"("Height":-2147483648,"Weight":99999,"FaceName":")" + Base64Encode(longName) +
                   "\"")},
        {2, record(R"("Height":1,"Weight":-5,"FaceName":")" + Base64Encode("Bad\nName\t") + "\"")},
        {3, record(R"("Height":"-20","Weight":[700],"FaceName":17)")},
        {4, record(R"("Height":-9223372036854775808)")},
        {5, "[not an object"}};
    ASSERT_TRUE(LoadJson(resource, json, blobs));
    const PangoFontDescription* f = resource.GetFont(1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(pango_font_description_get_size(f), UIResource::kMaxFontPixels * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_weight(f), 1000);
    std::string family = pango_font_description_get_family(f);
    EXPECT_EQ(family.substr(0, family.find(',')), std::string(31, 'F'));
    f = resource.GetFont(2);
    EXPECT_EQ(pango_font_description_get_size(f), UIResource::kMinFontPixels * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_weight(f), 100);
    family = pango_font_description_get_family(f);
    EXPECT_EQ(family.substr(0, family.find(',')), "BadName");
    // Texts read as integers parse as decimals; an array reads as 0 and changes nothing.
    f = resource.GetFont(3);
    EXPECT_EQ(pango_font_description_get_size(f), 20 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_weight(f), PANGO_WEIGHT_NORMAL);
    EXPECT_EQ(pango_font_description_get_size(resource.GetFont(4)),
              UIResource::kMaxFontPixels * PANGO_SCALE);
    EXPECT_TRUE(pango_font_description_equal(resource.GetFont(5), resource.GetDefaultFont()));
}

TEST(SkinResource, TintRecoloursAndRestoresPictures) {
    UIResource resource;
    CHBitmap red = MakeSolidBitmap(4, 4, 0xFFE04020, 24);
    ASSERT_TRUE(LoadJson(resource, R"({"cfg":{},"res":{"images":[{"id":1},{"id":2}]}})",
                         {{1, Png(red)}, {2, Png(red)}}));
    CHBitmap* tinted = resource.GetImage(1, true);
    CHBitmap* fixed = resource.GetImage(2, false);
    ASSERT_NE(tinted, nullptr);
    ASSERT_NE(fixed, nullptr);
    const uint32_t original = tinted->Pixel(1, 1);
    int repaints = 0;
    resource.SetRepaintHandler([&] { ++repaints; });
    resource.SetTint(120, 0, 0);
    EXPECT_EQ(repaints, 1);
    EXPECT_NE(tinted->Pixel(1, 1), original);
    EXPECT_EQ(fixed->Pixel(1, 1), original);
    EXPECT_NE(resource.TintColor(SkinRgb(224, 64, 32)), SkinRgb(224, 64, 32));
    // Tinting again starts from the untinted picture, so the tints never accumulate.
    resource.SetTint(120, 0, 0);
    uint32_t once = tinted->Pixel(1, 1);
    resource.SetTint(120, 0, 0);
    EXPECT_EQ(tinted->Pixel(1, 1), once);
    resource.SetTint(0, 0, 0);
    EXPECT_EQ(tinted->Pixel(1, 1), original);
    EXPECT_EQ(resource.TintColor(SkinRgb(224, 64, 32)), SkinRgb(224, 64, 32));
    resource.SetTint(999, -999, 50);
    EXPECT_EQ(resource.GetTintHue(), 180);
    EXPECT_EQ(resource.GetTintSaturation(), -100);
    EXPECT_EQ(resource.GetTintLightness(), 50);
}

} // namespace
