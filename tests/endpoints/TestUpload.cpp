// Backing photos up as the phone does: "/verify", uploads with and without names, duplicates
// from a second device, empty-body reports, the run's history and progress records, and the
// temporary files that must neither collide nor pile up.

#include "PhoneFixture.h"
#include "media/Base64.h"
#include "media/CHMd5.h"
#include "media/TextFormat.h"
#include "net/CHUploadEndpoints.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <regex>
#include <set>
#include <thread>

namespace {

std::string Md5Of(const std::string& bytes) {
    return Md5Text(bytes.data(), bytes.size());
}

std::vector<fs::path> FilesBelow(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file()) {
            files.push_back(it->path());
        }
    }
    return files;
}

int64_t MTime(const fs::path& file) {
    struct stat info {};
    return stat(file.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_mtime) : -1;
}

std::string Summary(int pieces, int64_t bytes, uint32_t seconds) {
    return "备份" + std::to_string(pieces) + "张, 占用空间" + FormatSize(bytes) + ", 耗时" +
           FormatDuration(seconds);
}

} // namespace

TEST_F(PhoneTest, UploadedPhotoIsStoredKnownAndBrowsable) {
    Pair("phone1", "Pixel");
    EXPECT_EQ(Phone().Post("/verify?key=phone1", "[\"a\", \"b\"]").raw,
              "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: 3\r\nContent-Type: "
              "text/html\r\nServer: Vellumo/1.2\r\n\r\n[]\n");
    m_recorder.Progress();

    const std::string photo = Photo(1);
    const std::string token = Token("1", 1388534400); // 2014-01-01 00:00:00 UTC
    PhoneAnswer answer = Phone().Post("/import?key=phone1&name=IMG_0001.JPG&vmd5=" + token +
                                          "&cur=1&total=3&speed=100&time=5",
                                      photo);
    EXPECT_EQ(answer.raw, "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: 21\r\n"
                          "Content-Type: text/html\r\nServer: Vellumo/1.2\r\n\r\n" +
                              StatusDocument("ok"));

    std::vector<BackupProgress> progress = m_recorder.Progress();
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].deviceKey, "phone1");
    EXPECT_EQ(progress[0].phase, 2);
    EXPECT_EQ(progress[0].current, 1.0f);
    EXPECT_EQ(progress[0].total, 3);
    EXPECT_EQ(progress[0].speed, 100);
    EXPECT_EQ(progress[0].elapsed, 5);
    EXPECT_TRUE(m_recorder.History().empty()); // not the run's last photo

    std::vector<FakeMainWnd::HandOver> handOvers = m_mainWnd.HandOvers();
    ASSERT_EQ(handOvers.size(), 1u);
    EXPECT_EQ(handOvers[0].deviceKey, "phone1");
    EXPECT_EQ(handOvers[0].token, token);
    EXPECT_EQ(handOvers[0].file.filename(), "IMG_0001.JPG");
    EXPECT_EQ(handOvers[0].file.parent_path().parent_path(), TempRoot());

    WaitImports();
    const fs::path stored = Repos() / "Pixel" / "IMG_0001.JPG";
    EXPECT_EQ(ReadTestFile(stored), photo);
    // The token's time became the file's time and, with no EXIF date, the photo's time.
    EXPECT_EQ(MTime(stored), 1388534400);
    const Pid pid = Db().FindPidByMd5(token);
    ASSERT_NE(pid, 0);

    EXPECT_EQ(Phone().Post("/verify?key=phone1", "[\"a\", \"" + token + "\"]").body,
              "{\n\t\"" + token + "\" : " + std::to_string(pid) + "\n}\n");
    PhoneAnswer image = Phone().Get("/image/" + std::to_string(pid) + "?key=phone1");
    EXPECT_EQ(image.body, photo);
    EXPECT_EQ(image.Header("FileName"), "IMG_0001.JPG");
    EXPECT_EQ(image.Header("FileTime"), "1388534400");
    // Nothing is left in the temporary folder once the library has the file.
    EXPECT_EQ(TempFolders(), 0u);
    EXPECT_TRUE(Db().CheckLibrary().empty());
}

TEST_F(PhoneTest, UploadsWithTheSameNameNeverShareATemporaryFile) {
    Pair("phone1", "Pixel");
    constexpr int kPairs = 6;
    std::vector<std::string> photos;
    for (int i = 0; i < 2 * kPairs; ++i) {
        photos.push_back(MakeTestJpegOfSize(300000, 100 + i));
    }
    std::vector<std::thread> phones;
    std::atomic<int> ready{0};
    std::vector<std::string> answers(photos.size());
    for (size_t i = 0; i < photos.size(); ++i) {
        phones.emplace_back([&, i] {
            ++ready;
            while (ready < static_cast<int>(photos.size())) {
                std::this_thread::yield();
            }
            // Two phones' worth of uploads, every pair under one name.
            answers[i] = Upload("phone1",
                                "name=IMG_" + std::to_string(i / 2) +
                                    ".JPG&vmd5=" + Token("s" + std::to_string(i), 1400000000),
                                photos[i]);
        });
    }
    for (auto& phone : phones) {
        phone.join();
    }
    for (const std::string& answer : answers) {
        EXPECT_EQ(answer, StatusDocument("ok"));
    }
    WaitImports();
    std::set<std::string> storedDigests;
    for (const fs::path& file : FilesBelow(Repos())) {
        storedDigests.insert(Md5Of(ReadTestFile(file)));
    }
    std::set<std::string> sentDigests;
    for (const std::string& photo : photos) {
        sentDigests.insert(Md5Of(photo));
    }
    EXPECT_EQ(storedDigests, sentDigests);
    for (size_t i = 0; i < photos.size(); ++i) {
        EXPECT_NE(Db().FindPidByMd5(Token("s" + std::to_string(i), 1400000000)), 0);
    }
    Phone().Post("/verify?key=phone1", "[]");
    EXPECT_EQ(TempFolders(), 0u);
}

TEST_F(PhoneTest, NamesCannotLeaveTheTemporaryFolder) {
    Pair("phone1", "Pixel");
    struct Case {
        std::string query;    // raw, as sent
        std::string expected; // "" means a generated "%lld.jpg" name
    };
    const std::vector<Case> cases = {
        {"name=../../evil1.jpg", "evil1.jpg"},
        {"name=..\\..\\evil2.jpg", "evil2.jpg"},
        {"name=....//evil3.jpg", "evil3.jpg"},
        {"name=..%2F..%2Fevil4.jpg", "%2F%2Fevil4.jpg"}, // query values are not decoded
        {"name=a\x01\x02\x7f"
         "b.jpg",
         "ab.jpg"},
        {"name=..", ""},
        {"name=/", ""},
        {"name=.", ""},
        {"name=", ""},
        {"", ""},
        {"name=" + std::string(300, 'x') + ".jpg", std::string(196, 'x') + ".jpg"},
    };
    uint32_t seed = 200;
    for (const Case& c : cases) {
        EXPECT_EQ(Upload("phone1", c.query + "&vmd5=" + Token(std::to_string(seed), 1400000000),
                         Photo(seed)),
                  StatusDocument("ok"))
            << c.query;
        ++seed;
    }
    std::vector<FakeMainWnd::HandOver> handOvers = m_mainWnd.HandOvers();
    ASSERT_EQ(handOvers.size(), cases.size());
    const std::regex generated("-?[0-9]+\\.jpg");
    for (size_t i = 0; i < cases.size(); ++i) {
        const fs::path& file = handOvers[i].file;
        EXPECT_EQ(file.parent_path().parent_path(), TempRoot()) << cases[i].query;
        if (cases[i].expected.empty()) {
            EXPECT_TRUE(std::regex_match(file.filename().string(), generated)) << file;
        } else {
            EXPECT_EQ(file.filename(), cases[i].expected) << cases[i].query;
        }
    }
    WaitImports();
    // Every photo landed in the device's folder; nothing was written anywhere else.
    EXPECT_EQ(FilesBelow(Repos() / "Pixel").size(), cases.size());
    for (const fs::path& file : FilesBelow(m_dir.Path())) {
        const std::string text = file.string();
        bool inRepos = text.rfind((Repos() / "Pixel").string() + "/", 0) == 0;
        bool inLibrary = file.parent_path() == Root() || file.parent_path() == Root() / "Thumb";
        EXPECT_TRUE(inRepos || inLibrary) << file;
    }
}

TEST_F(PhoneTest, DuplicatesAndReportsFromASecondDevice) {
    Pair("phone1", "Pixel");
    Pair("phone2", "Tab");
    const std::string photo = Photo(7);
    const std::string first = Token("first", 1400000000);
    const std::string second = Token("second", 1400000000);
    EXPECT_EQ(Upload("phone1", "name=IMG_7.JPG&vmd5=" + first, photo), StatusDocument("ok"));
    WaitImports();
    const Pid pid = Db().FindPidByMd5(first);
    ASSERT_NE(pid, 0);

    // The same photo from the second phone, under its own token and name.
    EXPECT_EQ(Upload("phone2", "name=DSC_7.JPG&vmd5=" + second, photo, "127.0.0.3"),
              StatusDocument("ok"));
    WaitImports();
    EXPECT_EQ(Db().FindPidByMd5(second), pid);
    EXPECT_TRUE(Db().DeviceHasImage("phone2", pid));
    EXPECT_EQ(FilesBelow(Repos()).size(), 1u);
    // The second phone's received copy is not kept.
    Phone().Post("/verify?key=phone1", "[]");
    EXPECT_EQ(TempFolders(), 0u);
    m_recorder.Progress();
    m_recorder.History();

    // An empty body reports a photo the phone believes is already here.
    Pair("phone3", "Old");
    EXPECT_EQ(Upload("phone3", "vmd5=" + first + "&cur=2&total=2&speed=10&time=3", ""),
              StatusDocument("duplication"));
    EXPECT_TRUE(Db().DeviceHasImage("phone3", pid));
    std::vector<BackupProgress> progress = m_recorder.Progress();
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].current, 1.5f);
    EXPECT_EQ(progress[0].total, 2);
    std::vector<HistoryRecord> history = m_recorder.History();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].deviceKey, "phone3");
    EXPECT_EQ(history[0].summaryText,
              Summary(2, 10 * 3 * 1024 + static_cast<int64_t>(photo.size()), 3));

    // An unknown token, or none: "failed", the record still goes out, nothing is recorded.
    for (const std::string& query :
         {std::string("vmd5=") + Token("unknown", 1) + "&cur=1&total=1", std::string("cur=1")}) {
        EXPECT_EQ(Upload("phone3", query, ""), StatusDocument("failed")) << query;
        progress = m_recorder.Progress();
        ASSERT_EQ(progress.size(), 1u);
        EXPECT_EQ(progress[0].current, 0.5f);
        EXPECT_TRUE(m_recorder.History().empty());
    }
    EXPECT_EQ(m_mainWnd.HandOvers().size(), 2u);
}

TEST_F(PhoneTest, RunHistoryArithmeticNeitherWrapsNorGoesNegative) {
    Pair("phone1", "Pixel");
    struct Case {
        std::string counters;
        int64_t runBytes; // before the photo's own size
        bool clampedToZero;
        uint32_t seconds;
    };
    const std::vector<Case> cases = {
        // 2 000 000 KB/s for 3000 s is far beyond 32 bits.
        {"speed=2000000&time=3000", int64_t{2000000} * 3000 * 1024, false, 3000},
        {"speed=-5&time=100", 0, true, 100},
        {"speed=99999999999999999999&time=99999999999999999999", INT64_MAX, false, 2147483647},
        {"speed=abc&time=", 0, false, 0},
    };
    uint32_t seed = 300;
    for (const Case& c : cases) {
        const std::string photo = Photo(seed);
        EXPECT_EQ(Upload("phone1",
                         "cur=1&total=1&" + c.counters +
                             "&vmd5=" + Token(std::to_string(seed), 1400000000),
                         photo),
                  StatusDocument("ok"));
        ++seed;
        std::vector<HistoryRecord> history = m_recorder.History();
        ASSERT_EQ(history.size(), 1u) << c.counters;
        int64_t bytes = c.clampedToZero           ? 0
                        : c.runBytes == INT64_MAX ? INT64_MAX
                                                  : c.runBytes + static_cast<int64_t>(photo.size());
        EXPECT_EQ(history[0].summaryText, Summary(1, bytes, c.seconds)) << c.counters;
    }
    // The run's counters are parsed without overflow into the progress record as well.
    std::vector<BackupProgress> progress = m_recorder.Progress();
    ASSERT_EQ(progress.size(), cases.size());
    EXPECT_EQ(progress[2].speed, INT32_MAX);
    EXPECT_EQ(progress[2].elapsed, INT32_MAX);
    EXPECT_EQ(progress[3].speed, 0);
}

TEST_F(PhoneTest, AnIncompleteWriteAnswersFailedAndHandsNothingOn) {
    Pair("phone1", "Pixel");
    const std::string photo = MakeTestJpegOfSize(400000, 9);
    m_recorder.Progress();

    // The file-size limit makes the write stop part-way, as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::string answer =
        Upload("phone1", "name=big.jpg&cur=4&total=4&vmd5=" + Token("big", 1400000000), photo);
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_EQ(answer, StatusDocument("failed"));
    EXPECT_TRUE(m_mainWnd.HandOvers().empty());
    EXPECT_EQ(TempFolders(), 0u);
    // The run's counters are kept all the same: the last photo of the run ends it.
    std::vector<HistoryRecord> history = m_recorder.History();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].deviceKey, "phone1");
    std::vector<BackupProgress> progress = m_recorder.Progress();
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].current, 3.5f);

    // The phone tries again and this time the photo arrives.
    EXPECT_EQ(
        Upload("phone1", "name=big.jpg&cur=4&total=4&vmd5=" + Token("big", 1400000000), photo),
        StatusDocument("ok"));
    WaitImports();
    EXPECT_EQ(ReadTestFile(Repos() / "Pixel" / "big.jpg"), photo);
}

TEST_F(PhoneTest, FilesTheLibraryCannotStoreAreAnsweredFailedAndLeaveNothing) {
    Pair("phone1", "Pixel");
    // Not a photo, a cut-off JPEG, then a good one: the library stores only the last, and only
    // the last is acknowledged (the phone keeps and retries the others).
    const std::string good = Photo(11);
    EXPECT_EQ(Upload("phone1", "name=a.txt&vmd5=" + Token("txt", 1), "not a photo at all"),
              StatusDocument("failed"));
    EXPECT_EQ(
        Upload("phone1", "name=cut.jpg&vmd5=" + Token("cut", 1), good.substr(0, good.size() / 2)),
        StatusDocument("failed"));
    EXPECT_EQ(TempFolders(), 0u);
    EXPECT_EQ(Upload("phone1", "name=good.jpg&vmd5=" + Token("good", 1), good),
              StatusDocument("ok"));
    // "ok" came after the photo, its row and its token were stored: nothing to wait for.
    EXPECT_EQ(ReadTestFile(Repos() / "Pixel" / "good.jpg"), good);
    EXPECT_NE(Db().FindPidByMd5(Token("good", 1)), 0);
    EXPECT_EQ(FilesBelow(Repos()).size(), 1u);
    EXPECT_EQ(Db().FindPidByMd5(Token("cut", 1)), 0);
    EXPECT_EQ(TempFolders(), 0u);
}

TEST(UploadParts, TokenTimeNamesAndLastPhoto) {
    EXPECT_EQ(CHUploadEndpoints::TokenTime(PhoneTest::Token("x", 1388534400)), 1388534400);
    // 64-bit times survive; extra digits clamp instead of wrapping.
    EXPECT_EQ(CHUploadEndpoints::TokenTime(PhoneTest::Token("x", 4102444800)), 4102444800);
    EXPECT_EQ(CHUploadEndpoints::TokenTime(Base64Encode("a|b|99999999999999999999999|c")),
              INT64_MAX);
    EXPECT_EQ(CHUploadEndpoints::TokenTime(Base64Encode("a|b|c")), std::nullopt);
    EXPECT_EQ(CHUploadEndpoints::TokenTime(Base64Encode("a|b|1|c|d")), std::nullopt);
    EXPECT_EQ(CHUploadEndpoints::TokenTime("not base64 at all!!"), std::nullopt);
    EXPECT_EQ(CHUploadEndpoints::TokenTime(""), std::nullopt);

    EXPECT_TRUE(CHUploadEndpoints::IsLast(3.0f, 3));
    EXPECT_FALSE(CHUploadEndpoints::IsLast(2.5f, 3));
    EXPECT_TRUE(CHUploadEndpoints::IsLast(0.0f, 0));
    EXPECT_FALSE(CHUploadEndpoints::IsLast(-1.0f, -1)); // the total is unsigned
}
