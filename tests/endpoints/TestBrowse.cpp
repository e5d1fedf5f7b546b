// Browsing the PC library from the phone: devices, albums, the time tree, the day map,
// thumbnails, whole images and EXIF, with the exact documents and headers the app reads.

#include "PhoneFixture.h"
#include "media/Base64.h"
#include "media/JsonText.h"
#include "net/CHBrowseEndpoints.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>

namespace {

constexpr int64_t k2013May01 = 1367395200; // 2013-05-01 08:00:00 UTC
constexpr int64_t k2013Jun15 = 1371254400; // 2013-06-15 00:00:00 UTC
constexpr int64_t k2100Jan01 = 4102444800; // beyond 32 bits

std::string Styled(const Json::Value& value) {
    return JsonStyled(value);
}

Json::Value PidArray(std::initializer_list<Pid> pids) {
    Json::Value array(Json::arrayValue);
    for (Pid pid : pids) {
        array.append(Json::Int64(pid));
    }
    return array;
}

std::set<std::string> ThumbTables(const fs::path& store) {
    std::set<std::string> tables;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='table'", -1,
                               &statement, nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                tables.insert(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
            }
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return tables;
}

class BrowseTest : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        Pair("phone1", "Pixel");
        Pair("phone2", "Tab");
        m_p1 = Send("phone1", "p1", 1, k2013May01, "IMG_1.JPG");
        m_p2 = Send("phone1", "p2", 2, k2013May01 + 3600, "IMG_2.JPG");
        m_p3 = Send("phone2", "p3", 3, k2013Jun15, "IMG_3.JPG");
        m_p4 = Send("phone2", "p4", 4, k2100Jan01, "IMG_4.JPG");
    }

    Pid Send(const std::string& key, const std::string& id, uint32_t seed, int64_t time,
             const std::string& name) {
        m_photos[id] = Photo(seed);
        EXPECT_EQ(Upload(key, "name=" + name + "&vmd5=" + Token(id, time), m_photos[id]),
                  StatusDocument("ok"));
        WaitImports();
        Pid pid = Db().FindPidByMd5(Token(id, time));
        EXPECT_NE(pid, 0);
        return pid;
    }

    std::string Body(const std::string& target) {
        PhoneAnswer answer = Phone().Get(
            target + (target.find('?') == std::string::npos ? "?key=phone1" : "&key=phone1"));
        EXPECT_EQ(answer.Status(), 200) << target;
        return answer.body;
    }

    Pid m_p1 = 0, m_p2 = 0, m_p3 = 0, m_p4 = 0;
    std::map<std::string, std::string> m_photos;
};

} // namespace

TEST_F(BrowseTest, DevicesListEveryPairedPhoneAndThePc) {
    Json::Value expected;
    expected["localhost"]["name"] = Base64Encode("电脑相册");
    expected["phone1"]["name"] = Base64Encode("Pixel");
    expected["phone1"]["imgs"] = PidArray({m_p1, m_p2});
    expected["phone2"]["name"] = Base64Encode("Tab");
    expected["phone2"]["imgs"] = PidArray({m_p3, m_p4});
    EXPECT_EQ(Body("/devices"), Styled(expected));
    // The localhost caller needs no key.
    EXPECT_EQ(Phone("127.0.0.1").Get("/devices").body, Styled(expected));
}

TEST_F(BrowseTest, TimeTreeAndDayMap) {
    EXPECT_EQ(Body("/time"), "[ \"2013\", \"2100\" ]\n");
    EXPECT_EQ(Body("/time/"), "[ \"2013\", \"2100\" ]\n");
    EXPECT_EQ(Body("/time/2013"), "[ \"05\", \"06\" ]\n");
    EXPECT_EQ(Body("/time/2013/05"), "[ \"01\" ]\n");
    EXPECT_EQ(Body("/time/2013/05/01"), Styled(PidArray({m_p1, m_p2})));
    EXPECT_EQ(Body("/time/2013%2F05%2F01"), Styled(PidArray({m_p1, m_p2})));
    EXPECT_EQ(Body("/time/2013/05/01/x"), "null\n");
    EXPECT_EQ(Body("/time/1999"), "null\n");
    EXPECT_EQ(Body("/time/2013/05/02"), "null\n");

    Json::Value all;
    all["2013-05-01"] = PidArray({m_p1, m_p2});
    all["2013-06-15"] = PidArray({m_p3});
    all["2100-01-01"] = PidArray({m_p4});
    EXPECT_EQ(Body("/date"), Styled(all));
    EXPECT_EQ(Body("/date?device="), Styled(all));
    Json::Value second;
    second["2013-06-15"] = PidArray({m_p3});
    second["2100-01-01"] = PidArray({m_p4});
    EXPECT_EQ(Body("/date?device=phone2"), Styled(second));
    EXPECT_EQ(Body("/date?device=nobody"), "null\n");
}

TEST_F(BrowseTest, AlbumsAreFollowedLevelByLevel) {
    Json::Value tree;
    tree["albums"]["2014"]["images"] = PidArray({m_p2});
    tree["albums"]["2014"]["albums"]["Trip"]["images"] = PidArray({m_p3, m_p4});
    tree["albums"]["Top"]["images"] = PidArray({m_p1});
    tree["albums"]["x/y"]["images"] = PidArray({m_p1});
    ASSERT_TRUE(Db().WriteConfigJson("albumCache", tree));
    ReopenLibrary();

    Json::Value top;
    top["folder"][Base64Encode("2014")]["path"] = Base64Encode("2014");
    top["folder"][Base64Encode("2014")]["thumb"] = Json::Int64(m_p2);
    top["folder"][Base64Encode("Top")]["path"] = Base64Encode("Top");
    top["folder"][Base64Encode("Top")]["thumb"] = Json::Int64(m_p1);
    // A name holding "/" is keyed by its last piece; its path keeps the whole name.
    top["folder"][Base64Encode("y")]["path"] = Base64Encode("x/y");
    top["folder"][Base64Encode("y")]["thumb"] = Json::Int64(Db().GetLastAlbumPid("x/y"));
    EXPECT_EQ(Body("/album"), Styled(top));
    EXPECT_EQ(Body("/album/"), Styled(top));

    Json::Value year;
    year["folder"][Base64Encode("Trip")]["path"] = Base64Encode("2014/Trip");
    year["folder"][Base64Encode("Trip")]["thumb"] = Json::Int64(m_p4);
    year["images"] = PidArray({m_p2});
    EXPECT_EQ(Body("/album/2014"), Styled(year));
    EXPECT_EQ(Body("/album/2014/"), Styled(year));

    // The phone's next request is the decoded "path" as it was given.
    Json::Value answer;
    ASSERT_TRUE(JsonParse(Body("/album/2014"), answer));
    const std::string next =
        Base64Decode(answer["folder"][Base64Encode("Trip")]["path"].asString());
    Json::Value trip;
    trip["images"] = PidArray({m_p3, m_p4});
    EXPECT_EQ(Body("/album/" + PercentEncode(next)), Styled(trip));
    EXPECT_EQ(Body("/album/" + next), Styled(trip));

    EXPECT_EQ(Body("/album/nothing"), "null\n");
    EXPECT_EQ(Body("/album/2014/Trip/deeper"), "null\n");
}

TEST_F(BrowseTest, ThumbnailsAskForClampedSizes) {
    const fs::path store = Root() / "Thumb" / (std::to_string((m_p1 & 31) + 1) + ".thumb");
    PhoneAnswer answer = Phone().Get("/thumb/" + std::to_string(m_p1) + "?key=phone1");
    EXPECT_EQ(answer.Status(), 200);
    EXPECT_EQ(answer.Header("Content-Type"), "image/jpeg");
    ASSERT_GE(answer.body.size(), 2u);
    EXPECT_EQ(answer.body.substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(answer.Header("Content-Length"), std::to_string(answer.body.size()));
    // The same thumbnail again comes from the store.
    EXPECT_EQ(Body("/thumb/" + std::to_string(m_p1)), answer.body);

    const std::string pid = std::to_string(m_p1);
    for (const char* query : {"?w=300", "?w=99999&h=-7", "?w=32767&h=160", "?w=0&h=0", "?w=-1&h=-1",
                              "?w=abc&h=40", "?w=12&w=24&h=24"}) {
        EXPECT_FALSE(Body("/thumb/" + pid + query).empty()) << query;
    }
    EXPECT_EQ(ThumbTables(store), (std::set<std::string>{"t150x150", "t300x0", "t4096x0",
                                                         "t32767x160", "t0x40", "t24x24"}));

    // Unknown or unreadable pids answer an empty JPEG body.
    for (const char* target : {"/thumb/999999", "/thumb/abc", "/thumb/%zz", "/thumb", "/thumb/-1",
                               "/thumb/99999999999999999999999"}) {
        PhoneAnswer empty = Phone().Get(std::string(target) + "?key=phone1");
        EXPECT_EQ(empty.Status(), 200) << target;
        EXPECT_TRUE(empty.body.empty()) << target;
        EXPECT_EQ(empty.Header("Content-Type"), "image/jpeg") << target;
    }
}

TEST_F(BrowseTest, ImagesCarryNameAndThirtyTwoBitTime) {
    PhoneAnswer answer = Phone().Get("/image/" + std::to_string(m_p4) + "?key=phone2");
    EXPECT_EQ(answer.Status(), 200);
    EXPECT_EQ(answer.body, m_photos["p4"]);
    EXPECT_EQ(answer.HeaderNames(),
              (std::vector<std::string>{"Connection", "Content-Length", "Content-Type", "FileName",
                                        "FileTime", "Server"}));
    EXPECT_EQ(answer.Header("FileName"), "IMG_4.JPG");
    // 4102444800 keeps its low 32 bits as a signed number.
    EXPECT_EQ(answer.Header("FileTime"), "-192522496");
    EXPECT_EQ(Phone().Get("/image/" + std::to_string(m_p1) + "?key=phone2").Header("FileTime"),
              std::to_string(k2013May01));

    const std::string missing = "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: 0\r\n"
                                "Content-Type: image/jpeg\r\nFileName: \r\nFileTime: 0\r\n"
                                "Server: Vellumo/1.2\r\n\r\n";
    for (const char* target :
         {"/image/999999", "/image/", "/image", "/image/x%00y", "/image/-9223372036854775808"}) {
        EXPECT_EQ(Phone().Get(std::string(target) + "?key=phone1").raw, missing) << target;
    }
    // A file that vanished from the repository: the record answers with an empty body.
    fs::remove(Db().GetImagePath(m_p2));
    PhoneAnswer gone = Phone().Get("/image/" + std::to_string(m_p2) + "?key=phone1");
    EXPECT_TRUE(gone.body.empty());
    EXPECT_EQ(gone.Header("FileName"), "IMG_2.JPG");
}

TEST_F(BrowseTest, ExifIsTheLibrarysObject) {
    const std::string exif = Body("/exif/" + std::to_string(m_p1));
    EXPECT_EQ(exif, Styled(Db().GetExif(m_p1)));
    Json::Value parsed;
    ASSERT_TRUE(JsonParse(exif, parsed));
    EXPECT_EQ(JsonAsInt64(JsonMember(parsed, "TakenTime")), k2013May01);
    EXPECT_EQ(Body("/exif/424242"), "null\n");
    EXPECT_EQ(Body("/exif"), "null\n");
    EXPECT_EQ(Body("/exif/%"), "null\n");
}

TEST(BrowseParts, PathParametersAndHeaderValues) {
    EXPECT_EQ(CHBrowseEndpoints::PathParameter("/album", "album"), "");
    EXPECT_EQ(CHBrowseEndpoints::PathParameter("/album/", "album"), "");
    EXPECT_EQ(CHBrowseEndpoints::PathParameter("/album/a%2Fb/album/c", "album"), "a/b/album/c");
    EXPECT_EQ(CHBrowseEndpoints::PathParameter("/album/%zz%4", "album"), "%zz%4");
    EXPECT_EQ(CHBrowseEndpoints::JoinAlbumPath("", "Trip"), "Trip");
    EXPECT_EQ(CHBrowseEndpoints::JoinAlbumPath("2014", "Trip"), "2014/Trip");
    EXPECT_EQ(CHBrowseEndpoints::JoinAlbumPath("2014/", "Trip"), "2014/Trip");
    EXPECT_EQ(CHBrowseEndpoints::HeaderSafe("a\r\nb\tc\x7f\x01"
                                            "d.jpg"),
              "abcd.jpg");
    EXPECT_EQ(CHBrowseEndpoints::ClampThumbSide(-5), 0);
    EXPECT_EQ(CHBrowseEndpoints::ClampThumbSide(4097), 4096);
    EXPECT_EQ(CHBrowseEndpoints::ClampThumbSide(32767), 32767);
    EXPECT_EQ(CHBrowseEndpoints::ClampThumbSide(32768), 4096);
}
