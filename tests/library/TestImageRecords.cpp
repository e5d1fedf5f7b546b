#include "library/ISQLite3.h"
#include "media/Base64.h"
#include "media/CHMd5.h"
#include "tests/library/LibraryTestUtil.h"

#include <atomic>
#include <chrono>

namespace {

using ImageRecords = LibraryTest;

std::string Md5Of(const fs::path& file) {
    std::string text;
    EXPECT_TRUE(Md5FileText(file.string(), text));
    return text;
}

int64_t Count(const fs::path& library, const char* sql) {
    auto raw = CreateISQLite3();
    EXPECT_TRUE(raw->Open(library));
    return raw->QueryInt64(sql);
}

TEST_F(ImageRecords, StoresByDeviceFolderDateFolderAndLocalCopy) {
    auto db = Open();
    ASSERT_EQ(db->SetAuth("phone-1", 1, "Pixel 5.1"), 1);
    fs::path fromPhone = MakePhoto("IMG_0001.JPG", 1, "2013:05:01 08:30:00", "Maker", "M1");
    fs::path noKey = MakePhoto("IMG_0002.JPG", 2, "2013:05:01 08:30:00");
    fs::path local = MakePhoto("IMG_0003.JPG", 3, "2012:12:31 23:59:59");

    Pid a = db->AddImage(fromPhone, Md5Of(fromPhone), "phone-1");
    Pid b = db->AddImage(noKey, Md5Of(noKey), "");
    Pid c = db->AddImage(local, Md5Of(local), "localhost");
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    ASSERT_NE(c, 0);

    // The folder is the sanitised display name ("." removed).
    EXPECT_EQ(db->GetImagePath(a), Repos() / "Pixel 51" / "IMG_0001.JPG");
    EXPECT_EQ(db->GetImagePath(b), Repos() / "local" / "2013-05-01" / "IMG_0002.JPG");
    EXPECT_EQ(db->GetImagePath(c), Repos() / "Local" / "IMG_0003.JPG");
    EXPECT_FALSE(fs::exists(fromPhone)); // uploads are moved
    EXPECT_TRUE(fs::exists(local));      // PC files are copied
    EXPECT_TRUE(fs::exists(db->GetImagePath(a)));

    EXPECT_EQ(db->GetTakenTime(a), 1367397000);
    Json::Value exif = db->GetExif(a);
    EXPECT_EQ(exif["EquipMake"].asString(), "Maker");
    EXPECT_TRUE(db->GetExif(999).isNull());
    EXPECT_EQ(db->GetImagePath(999), fs::path());
    PidList pids;
    EXPECT_TRUE(db->GetTimePids("2013/05/01", pids));
    EXPECT_EQ(pids, (PidList{a, b}));
    EXPECT_EQ(db->GetLastTimePid("2012"), c);

    int count = 0;
    int64_t bytes = 0;
    db->GetStatistics(count, bytes, nullptr);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(bytes, static_cast<int64_t>(fs::file_size(db->GetImagePath(a)) +
                                          fs::file_size(db->GetImagePath(b)) +
                                          fs::file_size(db->GetImagePath(c))));
    const std::string key = "phone-1";
    db->GetStatistics(count, bytes, &key);
    EXPECT_EQ(count, 1);
    const std::string nobody = "nobody";
    db->GetStatistics(count, bytes, &nobody);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(bytes, 0);

    // Stored paths keep the backslash form, and the exif text its line feed.
    auto raw = CreateISQLite3();
    ASSERT_TRUE(raw->Open(m_root / "Vellumo.cfg"));
    auto rows = raw->Query("SELECT path, exif FROM images WHERE pid = ?;", {a});
    ASSERT_TRUE(rows && rows->Next());
    EXPECT_EQ(rows->GetText(0), "\\Pixel 51\\IMG_0001.JPG");
    EXPECT_EQ(rows->GetText(1).back(), '\n');
}

TEST_F(ImageRecords, PhotoWithoutDateIsFiledByItsFileTime) {
    auto db = Open();
    fs::path photo = MakePhoto("nodate.jpg", 9);
    // 2014-01-01 00:00:00 UTC, as the upload handler sets it from the phone's token.
    const auto when = std::chrono::file_clock::from_sys(
        std::chrono::sys_seconds(std::chrono::seconds(1388534400)));
    fs::last_write_time(photo, when);
    Pid pid = db->AddImage(photo, "", "");
    ASSERT_NE(pid, 0);
    EXPECT_EQ(db->GetTakenTime(pid), 1388534400);
    EXPECT_EQ(db->GetImagePath(pid), Repos() / "local" / "2014-01-01" / "nodate.jpg");
    EXPECT_EQ(db->GetLastTimePid("2014/01/01"), pid);
}

TEST_F(ImageRecords, SamePhotoFromTwoPhonesIsOneFileOneRowTwoLinks) {
    auto db = Open();
    db->SetAuth("a", 1, "A");
    db->SetAuth("b", 1, "B");
    fs::path first = MakePhoto("x.jpg", 7);
    fs::path second = m_dir / "second" / "x.jpg";
    fs::create_directories(second.parent_path());
    fs::copy_file(first, second);
    Pid pid = db->AddImage(first, Md5Of(first), "a");
    ASSERT_NE(pid, 0);
    EXPECT_EQ(db->AddImage(second, Md5Of(second), "b"), pid);
    EXPECT_TRUE(fs::exists(second)); // the duplicate upload is left alone
    EXPECT_TRUE(db->DeviceHasImage("a", pid));
    EXPECT_TRUE(db->DeviceHasImage("b", pid));
    EXPECT_EQ(CountFiles(Repos()), 1u);
    db.reset();
    EXPECT_EQ(Count(m_root / "Vellumo.cfg", "SELECT count(*) FROM images"), 1);
    EXPECT_EQ(Count(m_root / "Vellumo.cfg", "SELECT count(*) FROM devices"), 2);
}

TEST_F(ImageRecords, SameNameTwiceAndUnknownDevice) {
    auto db = Open();
    db->SetAuth("a", 1, "A");
    Pid one = db->AddImage(MakePhoto("same.jpg", 1), "", "a");
    Pid two = db->AddImage(MakePhoto("same.jpg", 2), "", "a");
    ASSERT_NE(one, 0);
    ASSERT_NE(two, 0);
    EXPECT_EQ(db->GetImagePath(one), Repos() / "A" / "same.jpg");
    EXPECT_EQ(db->GetImagePath(two).parent_path(), Repos() / "A");
    EXPECT_NE(db->GetImagePath(two), db->GetImagePath(one));
    EXPECT_TRUE(fs::exists(db->GetImagePath(two)));
    // A key without authorisation has no name: its folder is the fallback, never the
    // repository itself.
    Pid stray = db->AddImage(MakePhoto("stray.jpg", 3), "", "unknown");
    ASSERT_NE(stray, 0);
    EXPECT_EQ(db->GetImagePath(stray), Repos() / "unnamed" / "stray.jpg");
}

TEST_F(ImageRecords, BadFilesLeaveLibraryAndFileAlone) {
    auto db = Open();
    db->SetAuth("a", 1, "A");
    std::string jpeg = MakeTestJpeg(TestJpegOptions{});
    const std::pair<const char*, std::string> cases[] = {
        {"text.jpg", "this is not an image"},
        {"empty.jpg", ""},
        {"truncated.jpg", jpeg.substr(0, jpeg.size() * 2 / 3)},
        {"header-only.jpg", jpeg.substr(0, 300)},
    };
    for (const auto& [name, bytes] : cases) {
        fs::path file = m_dir / "bad" / name;
        ASSERT_TRUE(WriteTestFile(file, bytes));
        EXPECT_EQ(db->AddImage(file, "", "a"), 0) << name;
        EXPECT_EQ(ReadTestFile(file), bytes) << name;
    }
    EXPECT_EQ(db->AddImage(m_dir / "missing.jpg", "", "a"), 0);
    EXPECT_EQ(CountFiles(Repos()), 0u);
    int count = -1;
    int64_t bytes = -1;
    db->GetStatistics(count, bytes, nullptr);
    EXPECT_EQ(count, 0);
    NameList years;
    EXPECT_FALSE(db->ListYears(years));
}

TEST_F(ImageRecords, FailedInsertPutsTheFileBack) {
    auto db = Open();
    db->SetAuth("a", 1, "A");
    {
        auto raw = CreateISQLite3();
        ASSERT_TRUE(raw->Open(m_root / "Vellumo.cfg"));
        ASSERT_TRUE(raw->Exec("CREATE TRIGGER refuse BEFORE INSERT ON images BEGIN SELECT "
                              "RAISE(ABORT, 'refused'); END;"));
    }
    fs::path photo = MakePhoto("p.jpg", 5);
    const std::string bytes = ReadTestFile(photo);
    EXPECT_EQ(db->AddImage(photo, "", "a"), 0);
    EXPECT_EQ(ReadTestFile(photo), bytes);
    EXPECT_EQ(CountFiles(Repos()), 0u);
    EXPECT_TRUE(db->CheckLibrary().empty());

    fs::path local = MakePhoto("q.jpg", 6);
    EXPECT_EQ(db->AddImage(local, "", "localhost"), 0);
    EXPECT_TRUE(fs::exists(local));
    EXPECT_EQ(CountFiles(Repos()), 0u);
}

TEST_F(ImageRecords, QueuedImportsReportProgressAndRememberTokens) {
    auto db = Open();
    db->SetAuth("phone", 1, "Phone");
    struct Call {
        int phase, index, total;
        std::string text;
        intptr_t user;
    };
    std::mutex lock;
    std::vector<Call> calls;
    ImportProgress progress = [&](int phase, int index, int total, const fs::path&,
                                  const std::string& text, intptr_t user) {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back({phase, index, total, text, user});
    };
    const std::string tokenA = "dG9rZW4='\"\\/..\x01😀";
    const std::string tokenB = "second-token";
    fs::path a = MakePhoto("a.jpg", 1);
    fs::path b = MakePhoto("b.jpg", 2);
    fs::path copyOfA = m_dir / "again" / "a.jpg";
    fs::create_directories(copyOfA.parent_path());
    fs::copy_file(a, copyOfA);
    // A file that cannot be read is dropped: it must not be linked to any other photo.
    fs::path unreadable = m_dir / "folder.jpg";
    fs::create_directories(unreadable);
    EXPECT_EQ(db->QueueImport(a, "phone", progress, 42, tokenA), 1);
    EXPECT_EQ(db->QueueImport(unreadable, "phone", progress, 42, "lost"), 1);
    EXPECT_EQ(db->QueueImport(b, "phone", progress, 42, tokenB), 1);
    EXPECT_EQ(db->QueueImport(copyOfA, "phone", progress, 42, "third"), 1);
    ASSERT_TRUE(db->WaitIdle(20000));

    Pid pa = db->FindPidByMd5(tokenA);
    Pid pb = db->FindPidByMd5(tokenB);
    ASSERT_NE(pa, 0);
    ASSERT_NE(pb, 0);
    EXPECT_EQ(db->FindPidByMd5("third"), pa); // same content: same photo
    EXPECT_EQ(db->FindPidByMd5("lost"), 0);
    // Stored in the order they were queued.
    EXPECT_LT(pa, pb);
    {
        std::lock_guard<std::mutex> guard(lock);
        ASSERT_EQ(calls.size(), 6u);
        EXPECT_EQ(calls.front().phase, 0);
        EXPECT_EQ(calls.front().index, 1);
        EXPECT_EQ(calls.front().text, "phone");
        EXPECT_EQ(calls.front().user, 42);
        EXPECT_EQ(calls.back().phase, 1);
        EXPECT_EQ(calls.back().index, calls.back().total);
        EXPECT_EQ(calls.back().text, "");
    }

    Json::Value tokens(Json::arrayValue);
    tokens.append(tokenA);
    tokens.append(5);
    tokens.append("unknown");
    Json::Value answer(Json::arrayValue);
    db->VerifyMd5List(tokens, answer);
    ASSERT_TRUE(answer.isObject());
    EXPECT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[tokenA].asInt64(), pa);
    Json::Value none(Json::arrayValue);
    db->VerifyMd5List(Json::Value("not an array"), none);
    EXPECT_TRUE(none.isArray());

    // The drained queue saved the time line, and the tokens survive a reopen.
    db.reset();
    db = Open();
    EXPECT_EQ(db->FindPidByMd5(tokenA), pa);
    PidList all;
    EXPECT_TRUE(db->GetTimePids("", all));
    EXPECT_EQ(all.size(), 2u);
}

TEST_F(ImageRecords, UploadsQueuedWhileTheRootMovesAreStoredAfterwards) {
    auto db = Open();
    db->SetAuth("phone", 1, "Phone");
    ASSERT_EQ(db->CloseLibrary(), 1);
    db->QueueImport(MakePhoto("during.jpg", 1), "phone", nullptr, 0, "during");
    EXPECT_FALSE(db->WaitIdle(300));
    ASSERT_EQ(db->OpenLibrary(m_root), 1);
    ASSERT_TRUE(db->WaitIdle(20000));
    Pid pid = db->FindPidByMd5("during");
    ASSERT_NE(pid, 0);
    EXPECT_EQ(db->GetImagePath(pid), Repos() / "Phone" / "during.jpg");
    // Closed at destruction: the waiting worker gives up at once.
    db->CloseLibrary();
    db->QueueImport(MakePhoto("late.jpg", 2), "phone", nullptr, 0, "late");
}

TEST_F(ImageRecords, DevicesJsonListsAuthorisedDevicesAndThePc) {
    auto db = Open();
    Json::Value empty;
    EXPECT_EQ(db->GetDevicesJson(empty), 1);
    Json::Value expected;
    expected["localhost"]["name"] = Base64Encode("电脑相册");
    EXPECT_EQ(empty, expected);

    db->SetAuth("phone", 1, "My \"phone\"");
    Pid p = db->AddImage(MakePhoto("a.jpg", 1), "", "phone");
    Pid l = db->AddImage(MakePhoto("b.jpg", 2), "", "localhost");
    Pid s = db->AddImage(MakePhoto("c.jpg", 3), "", "stranger");
    ASSERT_NE(p * l * s, 0);
    Json::Value devices;
    db->GetDevicesJson(devices);
    EXPECT_EQ(devices.size(), 2u); // the stranger has no authorisation
    EXPECT_EQ(Base64Decode(devices["phone"]["name"].asString()), "My \"phone\"");
    EXPECT_EQ(devices["phone"]["imgs"][0].asInt64(), p);
    EXPECT_EQ(devices["localhost"]["imgs"][0].asInt64(), l);
}

TEST_F(ImageRecords, RemovalByPathForgetsEverything) {
    auto db = Open();
    db->SetAuth("phone", 1, "Phone");
    fs::path photo = MakePhoto("a.jpg", 1, "2013:05:01 08:30:00");
    db->QueueImport(photo, "phone", nullptr, 0, "tok");
    ASSERT_TRUE(db->WaitIdle(20000));
    Pid pid = db->FindPidByMd5("tok");
    ASSERT_NE(pid, 0);
    db->LinkDeviceImage("other", pid);
    fs::path stored = db->GetImagePath(pid);
    fs::remove(stored);
    std::vector<fs::path> missing;
    EXPECT_EQ(db->FindMissingFiles(missing), 1);
    EXPECT_EQ(missing, std::vector<fs::path>{stored});
    m_observer.Take();

    EXPECT_EQ(db->RemoveImageByPath(stored), 0);
    EXPECT_EQ(db->GetImagePath(pid), fs::path());
    EXPECT_EQ(db->FindPidByMd5("tok"), 0);
    EXPECT_FALSE(db->DeviceHasImage("phone", pid));
    EXPECT_FALSE(db->DeviceHasImage("other", pid));
    NameList days;
    EXPECT_FALSE(db->ListDays("2013", "05", days));
    int stats = 0;
    for (const auto& event : m_observer.Take()) {
        stats += event.code == NOTIFY_DEVICE_STATS;
    }
    EXPECT_EQ(stats, 2); // once per device it belonged to
    EXPECT_TRUE(db->CheckLibrary().empty());
    db.reset();
    EXPECT_EQ(Count(m_root / "Vellumo.cfg", "SELECT count(*) FROM devices"), 0);
    EXPECT_EQ(Count(m_root / "Vellumo.cfg", "SELECT count(*) FROM verify"), 0);
}

TEST_F(ImageRecords, RemovalByPathKeepsAPhotoWhoseFileIsBack) {
    // A removal seen by the watcher can reach the library after the file has come back (an
    // editor that deletes and rewrites, a rename undone): the photo stays, file and record.
    auto db = Open();
    fs::path photo = MakePhoto("back.jpg", 1, "2013:05:01 08:30:00");
    db->QueueImport(photo, "phone", nullptr, 0, "tok");
    ASSERT_TRUE(db->WaitIdle(20000));
    Pid pid = db->FindPidByMd5("tok");
    ASSERT_NE(pid, 0);
    fs::path stored = db->GetImagePath(pid);
    const std::string bytes = ReadTestFile(stored);

    EXPECT_EQ(db->RemoveImageByPath(stored), 0);
    EXPECT_EQ(ReadTestFile(stored), bytes);
    EXPECT_EQ(db->GetImagePath(pid), stored);
    EXPECT_EQ(db->FindPidByMd5("tok"), pid);
    EXPECT_TRUE(db->CheckLibrary().empty());
}

TEST_F(ImageRecords, AnUploadMatchedToAPhotoDeletedMeanwhileIsNotClaimed) {
    // The same photo arrives from a second device while the user deletes the first copy: the
    // phone must not be told the PC holds it.
    auto db = Open();
    db->QueueImport(MakePhoto("a.jpg", 1, "2013:05:01 08:30:00"), "phone", nullptr, 0, "tokA");
    ASSERT_TRUE(db->WaitIdle(20000));
    const Pid pid = db->FindPidByMd5("tokA");
    ASSERT_NE(pid, 0);
    const fs::path again = m_dir / "second" / "a.jpg";
    ASSERT_TRUE(WriteTestFile(again, ReadTestFile(db->GetImagePath(pid))));

    // Deletes the photo the moment the library has matched the new upload to it.
    class DeleteOnMatch : public IObserver {
    public:
        DeleteOnMatch(CHDBCenter& db, Pid pid) : m_db(db), m_pid(pid) {}
        void OnNotify(int code, const std::shared_ptr<const void>& data) override {
            auto key = std::static_pointer_cast<const std::string>(data);
            if (code == NOTIFY_DEVICE_STATS && key && *key == "tablet" && !m_done.exchange(true)) {
                m_deleted = m_db.DeleteImage(m_pid);
            }
        }
        CHDBCenter& m_db;
        Pid m_pid;
        std::atomic<bool> m_done{false};
        int m_deleted = 0;
    } deleter(*db, pid);
    m_hub.Subscribe(&deleter, NOTIFY_DEVICE_STATS);
    db->QueueImport(again, "tablet", nullptr, 0, "tokB");
    ASSERT_TRUE(db->WaitIdle(20000));
    m_hub.Unsubscribe(&deleter, NOTIFY_DEVICE_STATS);

    ASSERT_EQ(deleter.m_deleted, 1);
    EXPECT_EQ(db->FindPidByMd5("tokB"), 0);
    Json::Value tokens(Json::arrayValue);
    tokens.append("tokA");
    tokens.append("tokB");
    Json::Value known(Json::arrayValue);
    db->VerifyMd5List(tokens, known);
    EXPECT_EQ(known.size(), 0u);
    db.reset();
    EXPECT_EQ(Count(m_root / "Vellumo.cfg", "SELECT count(*) FROM verify"), 0);
}

TEST_F(ImageRecords, DeleteMovesTheFileToTheTrashAndDropsItsTokens) {
    auto db = Open();
    fs::path photo = MakePhoto("del.jpg", 1, "2013:05:01 08:30:00");
    db->QueueImport(photo, "phone", nullptr, 0, "tok");
    ASSERT_TRUE(db->WaitIdle(20000));
    Pid pid = db->FindPidByMd5("tok");
    ASSERT_NE(pid, 0);
    fs::path stored = db->GetImagePath(pid);
    std::string thumb;
    EXPECT_TRUE(db->GetThumbnail(pid, 32, 32, thumb));
    const fs::path store = m_root / "Thumb" / (std::to_string((pid & 31) + 1) + ".thumb");
    EXPECT_EQ(Count(store, "SELECT count(*) FROM t32x32"), 1);
    EXPECT_EQ(db->DeleteImage(pid), 1);
    EXPECT_EQ(Count(store, "SELECT count(*) FROM t32x32"), 0);
    EXPECT_EQ(db->DeleteImage(pid), 0);
    EXPECT_FALSE(fs::exists(stored));
    EXPECT_TRUE(fs::exists(m_dir / "xdg" / "Trash" / "files" / "del.jpg"));
    EXPECT_EQ(db->FindPidByMd5("tok"), 0);
    PidList pids;
    EXPECT_FALSE(db->GetTimePids("", pids));
    db.reset();
    db = Open();
    EXPECT_EQ(db->FindPidByMd5("tok"), 0); // not back after a reopen either
    EXPECT_TRUE(db->CheckLibrary().empty());
}

TEST_F(ImageRecords, StaleVerifyRowsAreNotTrusted) {
    { auto db = Open(); }
    {
        auto raw = CreateISQLite3();
        ASSERT_TRUE(raw->Open(m_root / "Vellumo.cfg"));
        ASSERT_TRUE(raw->Exec("INSERT INTO verify(md5, pid) VALUES('ghost', 77);"));
    }
    auto db = Open();
    EXPECT_EQ(db->FindPidByMd5("ghost"), 0);
    db->LinkDeviceImage("phone", 77);
    EXPECT_FALSE(db->DeviceHasImage("phone", 77));
    auto problems = db->CheckLibrary();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("ghost"), std::string::npos);
}

TEST_F(ImageRecords, ConcurrentQueueingFromManyThreads) {
    auto db = Open();
    db->SetAuth("phone", 1, "Phone");
    std::vector<fs::path> files;
    for (int i = 0; i < 24; ++i) {
        files.push_back(MakePhoto("f" + std::to_string(i) + ".jpg", 100 + i % 20));
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = t; i < files.size(); i += 4) {
                db->QueueImport(files[i], "phone", nullptr, 0, "tok" + std::to_string(i));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_TRUE(db->WaitIdle(60000));
    int count = 0;
    int64_t bytes = 0;
    db->GetStatistics(count, bytes, nullptr);
    EXPECT_EQ(count, 20); // four contents were sent twice
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_NE(db->FindPidByMd5("tok" + std::to_string(i)), 0) << i;
    }
    EXPECT_EQ(CountFiles(Repos()), 20u);
    EXPECT_TRUE(db->CheckLibrary().empty());
}

TEST_F(ImageRecords, DestroyingWhileImportsRunJoinsEveryWorker) {
    Pid stored = 0;
    {
        auto db = Open();
        for (int i = 0; i < 12; ++i) {
            db->QueueImport(MakePhoto("s" + std::to_string(i) + ".jpg", 300 + i), "", nullptr, 0,
                            "t" + std::to_string(i));
        }
        // Destroyed at once: the workers stop, whatever was stored stays consistent.
    }
    auto db = Open();
    EXPECT_TRUE(db->CheckLibrary().empty());
    int count = 0;
    int64_t bytes = 0;
    db->GetStatistics(count, bytes, nullptr);
    PidList filed;
    db->GetTimePids("", filed);
    EXPECT_EQ(static_cast<int>(filed.size()), count); // everything stored is browsable
    stored = count;
    EXPECT_LE(stored, 12);
}

} // namespace
