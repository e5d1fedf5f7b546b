#include "library/ISQLite3.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(SQLite3, OpenCreatesFileAndReportsTablesAndColumns) {
    TempDir dir;
    auto db = CreateISQLite3();
    EXPECT_FALSE(db->IsOpen());
    EXPECT_FALSE(db->Exec("CREATE TABLE x(a INT);")); // closed: fails, never crashes
    EXPECT_EQ(db->Query("SELECT 1;"), nullptr);
    ASSERT_TRUE(db->Open(dir / "lib.cfg"));
    EXPECT_TRUE(fs::exists(dir / "lib.cfg"));
    EXPECT_FALSE(db->TableExists("images"));
    ASSERT_TRUE(db->Exec("CREATE TABLE images(pid INTEGER PRIMARY KEY AUTOINCREMENT, md5 TEXT, "
                         "time INTEGER, path TEXT); "));
    EXPECT_TRUE(db->TableExists("images"));
    EXPECT_TRUE(db->ColumnExists("images", "time"));
    EXPECT_FALSE(db->ColumnExists("images", "size"));
    EXPECT_FALSE(db->ColumnExists("nosuch", "time"));
    // A second statement in one text is refused rather than half-run.
    EXPECT_FALSE(db->Exec("DELETE FROM images; DROP TABLE images;"));
    EXPECT_TRUE(db->TableExists("images"));
}

TEST(SQLite3, ValuesAreBoundNeverSpliced) {
    TempDir dir;
    auto db = CreateISQLite3();
    ASSERT_TRUE(db->Open(dir / "lib.cfg"));
    ASSERT_TRUE(db->Exec("CREATE TABLE config(key TEXT PRIMARY KEY, value TEXT); "));
    const std::string nasty = "it's \"quoted\" \\ / .. \x01\t\n 😀'); DROP TABLE config; --";
    ASSERT_TRUE(db->Exec("REPLACE INTO config(key, value) VALUES(?, ?);", {nasty, nasty}));
    auto rows = db->Query("SELECT value FROM config WHERE key = ?;", {nasty});
    ASSERT_NE(rows, nullptr);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->GetText(0), nasty);
    EXPECT_FALSE(rows->Next());
    EXPECT_TRUE(db->TableExists("config"));
    // Wrong number of values is a failure, not a partial bind.
    EXPECT_FALSE(db->Exec("REPLACE INTO config(key, value) VALUES(?, ?);", {nasty}));
}

TEST(SQLite3, EmptyResultsReadAsZero) {
    TempDir dir;
    auto db = CreateISQLite3();
    ASSERT_TRUE(db->Open(dir / "lib.cfg"));
    ASSERT_TRUE(db->Exec("CREATE TABLE images(pid INTEGER PRIMARY KEY, size INT);"));
    EXPECT_EQ(db->QueryInt64("SELECT pid FROM images WHERE pid = ?;", {int64_t{7}}), 0);
    auto rows = db->Query("SELECT sum(size), count(pid) FROM images;");
    ASSERT_NE(rows, nullptr);
    ASSERT_TRUE(rows->Next());
    EXPECT_TRUE(rows->IsNull(0));
    EXPECT_EQ(rows->GetInt64(0), 0);
    EXPECT_EQ(rows->GetText(0), "");
    EXPECT_EQ(rows->GetInt(1), 0);
    EXPECT_EQ(db->QueryInt64("SELECT nosuch FROM images;"), 0);
    EXPECT_EQ(db->Query("SELECT nosuch FROM images;"), nullptr);
}

TEST(SQLite3, BlobsRoundTripWithZeroBytes) {
    TempDir dir;
    auto db = CreateISQLite3();
    ASSERT_TRUE(db->Open(dir / "t.thumb"));
    ASSERT_TRUE(db->Exec("CREATE TABLE t160x160(pid INTEGER PRIMARY KEY, image BLOB); "));
    std::string bytes("\xFF\xD8\0\0\x01\xFF\xD9", 7);
    ASSERT_TRUE(
        db->Exec("REPLACE INTO t160x160(pid, image) VALUES(?, ?);", {int64_t{33}, SqlBlob{bytes}}));
    EXPECT_EQ(db->Changes(), 1);
    auto rows = db->Query("SELECT image FROM t160x160 WHERE pid = ?;", {int64_t{33}});
    ASSERT_NE(rows, nullptr);
    ASSERT_TRUE(rows->Next());
    std::string out;
    ASSERT_TRUE(rows->GetBlob(out, 0));
    EXPECT_EQ(out, bytes);
}

TEST(SQLite3, CloseLeavesOneFileAndDataSurvivesReopen) {
    TempDir dir;
    fs::path file = dir / "lib.cfg";
    {
        auto db = CreateISQLite3();
        ASSERT_TRUE(db->Open(file));
        ASSERT_TRUE(db->Exec("CREATE TABLE t(v INT);"));
        ASSERT_TRUE(db->Exec("INSERT INTO t(v) VALUES(?);", {int64_t{42}}));
        db->Close();
        EXPECT_FALSE(db->IsOpen());
        db->Close(); // twice is harmless
    }
    EXPECT_FALSE(fs::exists(dir / "lib.cfg-wal"));
    // The file alone, moved elsewhere, carries everything.
    fs::path moved = dir / "moved" / "lib.cfg";
    fs::create_directories(moved.parent_path());
    fs::rename(file, moved);
    auto db = CreateISQLite3();
    ASSERT_TRUE(db->Open(moved));
    EXPECT_EQ(db->QueryInt64("SELECT v FROM t;"), 42);
}

TEST(SQLite3, QueryOutlivesClose) {
    TempDir dir;
    auto db = CreateISQLite3();
    ASSERT_TRUE(db->Open(dir / "lib.cfg"));
    ASSERT_TRUE(db->Exec("CREATE TABLE t(v INT);"));
    for (int64_t i = 1; i <= 3; ++i) {
        ASSERT_TRUE(db->Exec("INSERT INTO t(v) VALUES(?);", {i}));
    }
    auto rows = db->Query("SELECT v FROM t ORDER BY v;");
    ASSERT_NE(rows, nullptr);
    db->Close();
    int64_t sum = 0;
    while (rows->Next()) {
        sum += rows->GetInt64(0);
    }
    EXPECT_EQ(sum, 6);
}

TEST(SQLite3, NotADatabaseFailsToOpenAndIsLeftAlone) {
    TempDir dir;
    fs::path file = dir / "lib.cfg";
    const std::string text = "this is not a database file, and it is long enough to have a header";
    ASSERT_TRUE(WriteTestFile(file, text));
    auto db = CreateISQLite3();
    EXPECT_FALSE(db->Open(file));
    EXPECT_FALSE(db->IsOpen());
    EXPECT_EQ(ReadTestFile(file), text);
    EXPECT_FALSE(db->Open(dir / "missing-folder" / "lib.cfg"));
}

TEST(SQLite3, OneConnectionServesSeveralThreads) {
    TempDir dir;
    auto db = CreateISQLite3();
    ASSERT_TRUE(db->Open(dir / "lib.cfg"));
    ASSERT_TRUE(db->Exec("CREATE TABLE t(k TEXT, v INT);"));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int64_t i = 0; i < 50; ++i) {
                std::string key = "k" + std::to_string(t);
                if (!db->Exec("INSERT INTO t(k, v) VALUES(?, ?);", {key, i})) {
                    ++failures;
                }
                auto rows = db->Query("SELECT count(*) FROM t WHERE k = ?;", {key});
                if (!rows || !rows->Next() || rows->GetInt64(0) != i + 1) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(db->QueryInt64("SELECT count(*) FROM t;"), 200);
}

} // namespace
