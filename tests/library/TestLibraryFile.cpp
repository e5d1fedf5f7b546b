#include "library/ISQLite3.h"
#include "net/CHWebServer.h"
#include "tests/library/LibraryTestUtil.h"

#include <sys/stat.h>

#include <map>

namespace {

using LibraryFile = LibraryTest;

std::shared_ptr<ISQLite3> OpenRaw(const fs::path& file) {
    auto db = CreateISQLite3();
    EXPECT_TRUE(db->Open(file));
    return db;
}

TEST_F(LibraryFile, NewLibraryHasTheFiveTablesAndSettingsRoundTrip) {
    {
        auto db = Open();
        EXPECT_TRUE(db->IsOpen());
        EXPECT_EQ(db->GetConfig("auth_passwd"), "");
        const std::string nasty = "it's a \"key\" \\ / .. \x01\x1f\n😀";
        EXPECT_EQ(db->SetConfig(nasty, nasty + "value"), 1);
        EXPECT_EQ(db->SetConfig("auth_passwd", "0042"), 1);
        EXPECT_EQ(db->GetConfig(nasty), nasty + "value");
        Json::Value tree;
        tree["2013"]["05"]["01"].append(Json::Int64(7));
        EXPECT_TRUE(db->WriteConfigJson("someJson", tree));
        EXPECT_EQ(db->GetConfig("someJson"), "{\"2013\":{\"05\":{\"01\":[7]}}}\n");
        Json::Value back;
        EXPECT_TRUE(db->ReadConfigJson("someJson", back));
        EXPECT_EQ(back, tree);
        EXPECT_FALSE(db->ReadConfigJson("absent", back));
    }
    // Closing folded the log back: the library is one file.
    EXPECT_FALSE(fs::exists(m_root / "Vellumo.cfg-wal"));
    auto raw = OpenRaw(m_root / "Vellumo.cfg");
    for (const char* table : {"config", "devices", "images", "verify", "auth"}) {
        EXPECT_TRUE(raw->TableExists(table)) << table;
    }
    EXPECT_TRUE(raw->ColumnExists("auth", "lastImportUsed"));
    EXPECT_TRUE(raw->ColumnExists("images", "size"));
    EXPECT_EQ(raw->QueryInt64("SELECT count(*) FROM config WHERE value = '0042';"), 1);
}

TEST_F(LibraryFile, ClosedLibraryReadsEmptyAndWritesNothing) {
    CHDBCenter db;
    db.SetServicePort(-1);
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(db.GetConfig("auth_passwd"), "");
    EXPECT_EQ(db.SetConfig("a", "b"), 0);
    fs::path photo = MakePhoto("a.jpg", 1);
    EXPECT_EQ(db.AddImage(photo, "", "phone"), 0);
    EXPECT_TRUE(fs::exists(photo));
}

TEST_F(LibraryFile, OldLibraryGainsDevicesTableFromImageSources) {
    {
        auto raw = OpenRaw(m_root / "Vellumo.cfg");
        ASSERT_TRUE(raw->Exec("CREATE TABLE config(key TEXT PRIMARY KEY, value TEXT); "));
        ASSERT_TRUE(
            raw->Exec("CREATE TABLE images(pid INTEGER PRIMARY KEY AUTOINCREMENT, md5 "
                      "TEXT, time INTEGER, path TEXT, exif TEXT, source TEXT, size INT); "));
        const char* sources[] = {"phoneA", "", "local", "phoneB"};
        for (const char* source : sources) {
            ASSERT_TRUE(raw->Exec("INSERT INTO images(md5, time, path, source, size) VALUES(?, 0, "
                                  "?, ?, 1);",
                                  {std::string("MD5") + source, std::string("\\x\\") + source,
                                   std::string_view(source)}));
        }
        ASSERT_TRUE(raw->Exec("INSERT INTO config(key, value) VALUES('keep', 'me');"));
    }
    auto db = Open();
    EXPECT_TRUE(db->DeviceHasImage("phoneA", 1));
    EXPECT_TRUE(db->DeviceHasImage("phoneB", 4));
    EXPECT_FALSE(db->DeviceHasImage("local", 3));
    EXPECT_EQ(db->GetConfig("keep"), "me");
    auto raw = OpenRaw(m_root / "Vellumo.cfg");
    EXPECT_EQ(raw->QueryInt64("SELECT count(*) FROM devices;"), 2);
}

TEST_F(LibraryFile, ImagesWithoutTimeColumnAreCopiedIntoTheNewLayoutAfterABackup) {
    {
        auto raw = OpenRaw(m_root / "Vellumo.cfg");
        ASSERT_TRUE(raw->Exec("CREATE TABLE config(key TEXT PRIMARY KEY, value TEXT); "));
        ASSERT_TRUE(raw->Exec("CREATE TABLE devices(device TEXT,pid UINT64);"));
        ASSERT_TRUE(raw->Exec(
            "CREATE TABLE images(pid INTEGER PRIMARY KEY, md5 TEXT, path TEXT, exif TEXT);"));
        ASSERT_TRUE(raw->Exec("INSERT INTO images(md5, path, exif) VALUES('X', '\\a.jpg', "
                              "'{\"TakenTime\":1367397000}');"));
        ASSERT_TRUE(raw->Exec("INSERT INTO images(md5, path, exif) VALUES('Y', '\\b.jpg', "
                              "'not json');"));
        ASSERT_TRUE(raw->Exec("CREATE TABLE auth(key TEXT PRIMARY KEY, type INT, modal TEXT, "
                              "lastImport INT, lastImportPcs INT, lastImportSize INT, "
                              "lastImportUsed INT ); "));
        ASSERT_TRUE(raw->Exec("INSERT INTO auth(key, type, modal) VALUES('k', 1, 'Phone');"));
        ASSERT_TRUE(raw->Exec("INSERT INTO config(key, value) VALUES('keep', 'me');"));
    }
    const std::string before = ReadTestFile(m_root / "Vellumo.cfg");
    auto db = Open();
    EXPECT_EQ(db->GetConfig("keep"), "me");
    EXPECT_TRUE(db->IsAuthorized("k"));
    // Every row is still there, now with its taken time.
    int count = -1;
    int64_t bytes = -1;
    db->GetStatistics(count, bytes, nullptr);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(db->GetLastTimePid("2013/05/01"), 1);
    auto raw = OpenRaw(m_root / "Vellumo.cfg");
    EXPECT_TRUE(raw->ColumnExists("images", "time"));
    EXPECT_FALSE(raw->TableExists("images_before_upgrade"));
    EXPECT_EQ(raw->QueryInt64("SELECT time FROM images WHERE md5 = 'X';"), 1367397000);
    EXPECT_EQ(raw->QueryInt64("SELECT count(*) FROM images WHERE path = '\\b.jpg';"), 1);
    // The file as it was, copied aside before anything changed.
    std::vector<fs::path> backups;
    for (const auto& entry : fs::directory_iterator(m_root)) {
        if (entry.path().filename().string().rfind("Vellumo.cfg.backup-", 0) == 0) {
            backups.push_back(entry.path());
        }
    }
    ASSERT_EQ(backups.size(), 1u);
    auto old = OpenRaw(backups[0]);
    EXPECT_FALSE(old->ColumnExists("images", "time"));
    EXPECT_EQ(old->QueryInt64("SELECT count(*) FROM images;"), 2);
    EXPECT_EQ(ReadTestFile(backups[0]).size(), before.size());
    // An up-to-date library is not copied again.
    db.reset();
    Open();
    size_t after = 0;
    old.reset();
    for (const auto& entry : fs::directory_iterator(m_root)) {
        after += entry.path().filename().string().rfind("Vellumo.cfg.backup-", 0) == 0;
    }
    EXPECT_EQ(after, 1u);
}

TEST_F(LibraryFile, FilesThatAreNoLibraryAreRefusedAndLeftByteForByte) {
    // Not a database at all, an empty-looking header, and another program's database: each is
    // refused with a reason and stays exactly as it was, and no service starts on it.
    std::string foreign;
    {
        fs::path file = m_dir / "foreign.db";
        auto raw = OpenRaw(file);
        ASSERT_TRUE(raw->Exec("CREATE TABLE notes(text TEXT);"));
        ASSERT_TRUE(raw->Exec("INSERT INTO notes VALUES('precious');"));
        raw->Close();
        foreign = ReadTestFile(file);
    }
    const std::vector<std::pair<std::string, std::string>> variants = {
        {"not a database", std::string(4096, 'x')},
        {"zeroed header", std::string(100, '\0') + std::string(3996, 'y')},
        {"another program's database", foreign},
    };
    for (const auto& [what, bytes] : variants) {
        ASSERT_TRUE(WriteTestFile(m_root / "Vellumo.cfg", bytes));
        CHDBCenter db;
        db.SetServicePort(0);
        EXPECT_EQ(db.OpenLibrary(m_root), 0) << what;
        EXPECT_FALSE(db.IsOpen());
        EXPECT_NE(db.LastOpenError().find("Vellumo.cfg"), std::string::npos) << what;
        ASSERT_NE(db.GetWebServer(), nullptr);
        EXPECT_FALSE(db.GetWebServer()->WaitListening(200)) << what;
        EXPECT_TRUE(ReadTestFile(m_root / "Vellumo.cfg") == bytes) << what;
        EXPECT_FALSE(fs::exists(m_root / "Vellumo.cfg-wal")) << what;
    }

    // A database whose config table cannot be created: OpenLibrary fails, the file survives.
    fs::path other = m_dir / "other";
    fs::create_directories(other);
    {
        auto raw = OpenRaw(other / "Vellumo.cfg");
        ASSERT_TRUE(raw->Exec("CREATE VIEW config AS SELECT 1 AS key;"));
        ASSERT_TRUE(raw->Exec("CREATE TABLE precious(v INT);"));
    }
    {
        CHDBCenter db;
        db.SetServicePort(-1);
        EXPECT_EQ(db.OpenLibrary(other), 0);
        EXPECT_FALSE(db.IsOpen());
    }
    ASSERT_TRUE(fs::exists(other / "Vellumo.cfg"));
    EXPECT_TRUE(OpenRaw(other / "Vellumo.cfg")->TableExists("precious"));
}

TEST_F(LibraryFile, ReopeningElsewhereNeverMixesLibraries) {
    fs::path second = m_dir / "second";
    fs::create_directories(second / "Repos");
    auto db = Open();
    ASSERT_EQ(db->SetAuth("phoneA", 1, "Alpha"), 1);
    Pid pid = db->AddImage(MakePhoto("a.jpg", 1, "2013:05:01 08:30:00"), "", "phoneA");
    ASSERT_NE(pid, 0);
    ASSERT_EQ(db->CloseLibrary(), 1);
    EXPECT_EQ(db->GetImagePath(pid), Repos() / "Alpha" / "a.jpg"); // kept while closed

    ASSERT_EQ(db->OpenLibrary(second), 1);
    EXPECT_EQ(db->GetImagePath(pid), fs::path());
    EXPECT_FALSE(db->IsAuthorized("phoneA"));
    NameList years;
    EXPECT_FALSE(db->ListYears(years));
    Json::Value devices;
    db->GetDevicesJson(devices);
    EXPECT_EQ(devices.size(), 1u);

    // Back on the first root, everything is there again, the time line included.
    ASSERT_EQ(db->OpenLibrary(m_root), 1);
    EXPECT_EQ(db->GetImagePath(pid), Repos() / "Alpha" / "a.jpg");
    EXPECT_TRUE(db->IsAuthorized("phoneA"));
    PidList pids;
    EXPECT_TRUE(db->GetTimePids("2013/05/01", pids));
    EXPECT_EQ(pids, PidList{pid});
}

TEST_F(LibraryFile, PhotosStoredJustBeforeShutdownStayBrowsable) {
    Pid pid;
    {
        auto db = Open();
        pid = db->AddImage(MakePhoto("a.jpg", 1, "2014:01:02 03:04:05"), "", "");
        ASSERT_NE(pid, 0);
        // No SaveIndexes: the direct AddImage leaves it to the close.
    }
    auto db = Open();
    EXPECT_EQ(db->GetLastTimePid("2014/01/02"), pid);
    EXPECT_EQ(db->GetConfig("timeCache"),
              "{\"2014\":{\"01\":{\"02\":[" + std::to_string(pid) + "]}}}\n");
}

TEST_F(LibraryFile, LostTimeLineIsRebuiltFromTheRecords) {
    Pid first, second;
    {
        auto db = Open();
        first = db->AddImage(MakePhoto("a.jpg", 1, "2014:01:02 03:04:05"), "", "");
        second = db->AddImage(MakePhoto("b.jpg", 2, "2015:06:07 08:09:10"), "", "");
        ASSERT_NE(first, 0);
        ASSERT_NE(second, 0);
    }
    {
        auto raw = OpenRaw(m_root / "Vellumo.cfg");
        ASSERT_TRUE(raw->Exec("UPDATE config SET value = 'not json' WHERE key = 'timeCache';"));
    }
    auto db = Open();
    EXPECT_EQ(db->GetLastTimePid("2014/01/02"), first);
    EXPECT_EQ(db->GetLastTimePid("2015/06/07"), second);
}

TEST_F(LibraryFile, CheckFindsMissingFilesDanglingLinksAndStrayTimeLineEntries) {
    Pid pid;
    {
        auto db = Open();
        pid = db->AddImage(MakePhoto("a.jpg", 1, "2013:05:01 08:30:00"), "", "localhost");
        ASSERT_NE(pid, 0);
        EXPECT_TRUE(db->CheckLibrary().empty());
        fs::remove(db->GetImagePath(pid));
    }
    {
        auto raw = OpenRaw(m_root / "Vellumo.cfg");
        ASSERT_TRUE(raw->Exec("INSERT INTO devices(device, pid) VALUES('ghost', 99);"));
        ASSERT_TRUE(raw->Exec("UPDATE config SET value = '{\"2013\":{\"05\":{\"01\":[" +
                              std::to_string(pid) + ",98]}}}' WHERE key = 'timeCache';"));
    }
    auto db = Open();
    auto problems = db->CheckLibrary();
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_NE(problems[0].find("file missing"), std::string::npos);
    EXPECT_NE(problems[1].find("'ghost'"), std::string::npos);
    EXPECT_NE(problems[2].find("missing image 98"), std::string::npos);
}

TEST_F(LibraryFile, UnusableRootStillStartsTheService) {
    fs::path blocker = m_dir / "blocker";
    ASSERT_TRUE(WriteTestFile(blocker, "a file where a folder should be"));
    CHDBCenter db;
    db.SetServicePort(0);
    EXPECT_EQ(db.OpenLibrary(blocker / "root"), 1);
    EXPECT_FALSE(db.IsOpen());
    ASSERT_NE(db.GetWebServer(), nullptr);
    EXPECT_TRUE(db.GetWebServer()->WaitListening(5000));
    EXPECT_GT(db.GetWebServer()->BoundPort(), 0);
    EXPECT_EQ(db.CheckLibrary().size(), 1u);
}

TEST_F(LibraryFile, ServiceStopsWithTheCentreEvenRightAfterOpening) {
    for (int i = 0; i < 3; ++i) {
        CHDBCenter db;
        db.SetServicePort(0);
        EXPECT_EQ(db.OpenLibrary(m_root), 1);
    }
}

} // namespace

namespace {

using LibraryMoves = LibraryTest;

TEST_F(LibraryMoves, TheLibraryFileIsPrivateToItsOwner) {
    Open();
    struct stat info {};
    ASSERT_EQ(stat((m_root / "Vellumo.cfg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // One left readable by others (an older version made it so) is made private.
    chmod((m_root / "Vellumo.cfg").c_str(), 0644);
    Open();
    ASSERT_EQ(stat((m_root / "Vellumo.cfg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(LibraryMoves, PathsFromAnotherLetterCaseFindTheirFiles) {
    Pid local, phone;
    {
        auto db = Open();
        ASSERT_EQ(db->SetAuth("phoneA", 1, "Alpha"), 1);
        local = db->AddImage(MakePhoto("a.jpg", 1, "2013:05:01 08:30:00"), "", "");
        phone = db->AddImage(MakePhoto("b.JPG", 2), "", "phoneA");
        ASSERT_NE(local, 0);
        ASSERT_NE(phone, 0);
    }
    // As a library carried from Windows has them: "\Local\..." and "\ALPHA\B.jpg" for files
    // that are "local/..." and "Alpha/b.JPG" here.
    {
        auto raw = OpenRaw(m_root / "Vellumo.cfg");
        ASSERT_TRUE(raw->Exec("UPDATE images SET path = replace(path, '\\local\\', '\\Local\\') "
                              "WHERE pid = ?;",
                              {local}));
        ASSERT_TRUE(raw->Exec("UPDATE images SET path = '\\ALPHA\\B.jpg' WHERE pid = ?;", {phone}));
    }
    auto db = Open();
    std::vector<fs::path> missing;
    db->FindMissingFiles(missing);
    EXPECT_TRUE(missing.empty()) << missing.size();
    EXPECT_EQ(db->GetImagePath(phone), Repos() / "Alpha" / "b.JPG");
    EXPECT_TRUE(fs::exists(db->GetImagePath(local)));
    EXPECT_TRUE(db->CheckLibrary().empty());
    // A file that really is gone is still reported.
    fs::remove(db->GetImagePath(local));
    db->FindMissingFiles(missing);
    EXPECT_EQ(missing.size(), 1u);
}

std::map<std::string, uintmax_t> ThumbFiles(const fs::path& folder) {
    std::map<std::string, uintmax_t> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        files[it->path().filename().string()] = it->file_size(ec);
    }
    return files;
}

TEST_F(LibraryMoves, PairingsAndThumbnailsDuringARootMoveEndUpAtTheNewRoot) {
    fs::path newRoot = m_dir / "moved";
    auto db = Open();
    Pid pid = db->AddImage(MakePhoto("a.jpg", 1), "", "");
    ASSERT_NE(pid, 0);
    std::string thumb;
    ASSERT_TRUE(db->GetThumbnail(pid, 100, 100, thumb));
    ASSERT_EQ(db->CloseLibrary(), 1);
    // While the files are copied to the new root: a phone pairs, and a thumbnail is asked for.
    fs::copy(m_root, newRoot, fs::copy_options::recursive);
    const auto oldThumbs = ThumbFiles(m_root / "Thumb");
    EXPECT_EQ(db->SetAuth("late-phone", 1, "Late"), 1);
    std::string during;
    db->GetThumbnail(pid, 120, 120, during);
    EXPECT_EQ(ThumbFiles(m_root / "Thumb"), oldThumbs);
    ASSERT_EQ(db->OpenLibrary(newRoot), 1);
    fs::remove_all(m_root);
    EXPECT_TRUE(db->IsAuthorized("late-phone"));
    auto raw = OpenRaw(newRoot / "Vellumo.cfg");
    EXPECT_EQ(raw->QueryInt64("SELECT count(*) FROM auth WHERE key = 'late-phone';"), 1);
    // New thumbnails are stored at the new place.
    const auto before = ThumbFiles(newRoot / "Thumb");
    ASSERT_TRUE(db->GetThumbnail(pid, 140, 140, thumb));
    EXPECT_NE(ThumbFiles(newRoot / "Thumb"), before);
}

} // namespace
