#include "platform/FileSystem.h"

#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string Bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(i * 131 + 7);
    }
    return s;
}

} // namespace

TEST(FileSystem, WriteReadSize) {
    TempDir dir("fs");
    fs::path file = dir / "a.bin";
    std::string data = Bytes(100000);
    ASSERT_TRUE(WriteWholeFile(file, data));
    std::string out = "old";
    ASSERT_TRUE(ReadWholeFile(file, out));
    EXPECT_EQ(out, data);
    EXPECT_EQ(FileSize64(file), 100000);
    // Truncates on rewrite.
    ASSERT_TRUE(WriteWholeFile(file, "xy"));
    ASSERT_TRUE(ReadWholeFile(file, out));
    EXPECT_EQ(out, "xy");
    ASSERT_TRUE(WriteWholeFile(file, ""));
    ASSERT_TRUE(ReadWholeFile(file, out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(FileSize64(file), 0);
}

TEST(FileSystem, ReadFailures) {
    TempDir dir("fs");
    std::string out = "old";
    EXPECT_FALSE(ReadWholeFile(dir / "missing", out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(ReadWholeFile(dir.Path(), out));
    EXPECT_EQ(FileSize64(dir / "missing"), 0);
    EXPECT_EQ(FileSize64(dir.Path()), 0);
    EXPECT_FALSE(WriteWholeFile(dir / "no" / "such" / "folder" / "f", "x"));
}

TEST(FileSystem, ReadsFilesWithoutKnownSize) {
    std::string out;
    ASSERT_TRUE(ReadWholeFile("/proc/self/status", out));
    EXPECT_NE(out.find("Name:"), std::string::npos);
}

TEST(FileSystem, CopyNeverOverwrites) {
    TempDir dir("fs");
    ASSERT_TRUE(WriteWholeFile(dir / "src", "source"));
    ASSERT_TRUE(WriteWholeFile(dir / "dst", "keep"));
    EXPECT_FALSE(CopyFileTo(dir / "src", dir / "dst"));
    EXPECT_EQ(ReadTestFile(dir / "dst"), "keep");
    EXPECT_TRUE(CopyFileTo(dir / "src", dir / "sub" / "copy"));
    EXPECT_EQ(ReadTestFile(dir / "sub" / "copy"), "source");
    EXPECT_EQ(ReadTestFile(dir / "src"), "source");
    EXPECT_FALSE(CopyFileTo(dir / "missing", dir / "x"));
    EXPECT_FALSE(fs::exists(dir / "x"));
}

TEST(FileSystem, CopyKeepsModificationTime) {
    TempDir dir("fs");
    ASSERT_TRUE(WriteWholeFile(dir / "src", Bytes(5000)));
    auto when = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    fs::last_write_time(dir / "src", when);
    ASSERT_TRUE(CopyFileTo(dir / "src", dir / "dst"));
    EXPECT_EQ(fs::last_write_time(dir / "dst"), fs::last_write_time(dir / "src"));
    EXPECT_EQ(ReadTestFile(dir / "dst"), Bytes(5000));
}

TEST(FileSystem, CopyFolder) {
    TempDir dir("fs");
    ASSERT_TRUE(WriteTestFile(dir / "tree" / "a" / "1.jpg", "one"));
    ASSERT_TRUE(WriteTestFile(dir / "tree" / "2.jpg", "two"));
    ASSERT_TRUE(CopyFileTo(dir / "tree", dir / "copy"));
    EXPECT_EQ(ReadTestFile(dir / "copy" / "a" / "1.jpg"), "one");
    EXPECT_EQ(ReadTestFile(dir / "copy" / "2.jpg"), "two");
}

TEST(FileSystem, MoveAndRenameNeverOverwrite) {
    TempDir dir("fs");
    ASSERT_TRUE(WriteWholeFile(dir / "a", "A"));
    ASSERT_TRUE(WriteWholeFile(dir / "b", "B"));
    EXPECT_FALSE(MoveFileTo(dir / "a", dir / "b"));
    EXPECT_FALSE(RenameFile(dir / "a", dir / "b"));
    EXPECT_EQ(ReadTestFile(dir / "a"), "A");
    EXPECT_EQ(ReadTestFile(dir / "b"), "B");
    EXPECT_TRUE(MoveFileTo(dir / "a", dir / "deep" / "er" / "c"));
    EXPECT_FALSE(fs::exists(dir / "a"));
    EXPECT_EQ(ReadTestFile(dir / "deep" / "er" / "c"), "A");
    EXPECT_TRUE(RenameFile(dir / "deep", dir / "renamed"));
    EXPECT_EQ(ReadTestFile(dir / "renamed" / "er" / "c"), "A");
    EXPECT_FALSE(RenameFile(dir / "missing", dir / "other"));
    EXPECT_FALSE(MoveFileTo(dir / "b", dir / "b")); // onto itself: the destination exists
    EXPECT_EQ(ReadTestFile(dir / "b"), "B");
}

TEST(FileSystem, MoveAcrossFileSystems) {
    // /dev/shm is a tmpfs; it is another file system than the test folder on most machines.
    TempDir dir("fs");
    struct stat a, b;
    if (::stat("/dev/shm", &b) != 0 || ::access("/dev/shm", W_OK) != 0 ||
        ::stat(dir.Path().c_str(), &a) != 0 || a.st_dev == b.st_dev) {
        GTEST_SKIP() << "no second writable file system";
    }
    fs::path other = fs::path("/dev/shm") / ("vellumo-fs-" + std::to_string(::getpid()));
    fs::remove_all(other);
    ASSERT_TRUE(WriteTestFile(dir / "tree" / "x" / "1.jpg", Bytes(300000)));
    ASSERT_TRUE(WriteTestFile(dir / "single.jpg", "single"));
    EXPECT_TRUE(MoveFileTo(dir / "single.jpg", other / "single.jpg"));
    EXPECT_FALSE(fs::exists(dir / "single.jpg"));
    EXPECT_EQ(ReadTestFile(other / "single.jpg"), "single");
    EXPECT_TRUE(MoveFileTo(dir / "tree", other / "tree"));
    EXPECT_FALSE(fs::exists(dir / "tree"));
    EXPECT_EQ(ReadTestFile(other / "tree" / "x" / "1.jpg"), Bytes(300000));
    // And back, onto an existing name: refused, nothing lost.
    ASSERT_TRUE(WriteTestFile(dir / "single.jpg", "new"));
    EXPECT_FALSE(MoveFileTo(other / "single.jpg", dir / "single.jpg"));
    EXPECT_EQ(ReadTestFile(dir / "single.jpg"), "new");
    EXPECT_EQ(ReadTestFile(other / "single.jpg"), "single");
    fs::remove_all(other);
}

TEST(FileSystem, MakeUniqueName) {
    TempDir dir("fs");
    EXPECT_EQ(MakeUniqueName(dir / "IMG.JPG"), dir / "IMG.JPG");
    ASSERT_TRUE(WriteWholeFile(dir / "IMG.JPG", "1"));
    EXPECT_EQ(MakeUniqueName(dir / "IMG.JPG"), dir / "IMG (2).JPG");
    ASSERT_TRUE(WriteWholeFile(dir / "IMG (2).JPG", "2"));
    EXPECT_EQ(MakeUniqueName(dir / "IMG.JPG"), dir / "IMG (3).JPG");
    ASSERT_TRUE(WriteWholeFile(dir / "noext", "1"));
    EXPECT_EQ(MakeUniqueName(dir / "noext"), dir / "noext (2)");
    fs::create_directory(dir / "folder");
    EXPECT_EQ(MakeUniqueName(dir / "folder"), dir / "folder (2)");
}

// ---- freedesktop.org Trash -----------------------------------------------------------------

class Trash : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_DATA_HOME");
        m_hadOld = old != nullptr;
        if (m_hadOld) {
            m_old = old;
        }
        ::setenv("XDG_DATA_HOME", m_data.Path().c_str(), 1);
    }
    void TearDown() override {
        if (m_hadOld) {
            ::setenv("XDG_DATA_HOME", m_old.c_str(), 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
    }
    fs::path TrashDir() const { return m_data / "Trash"; }

    TempDir m_data{"trash-home"};
    TempDir m_work{"trash-work"};
    bool m_hadOld = false;
    std::string m_old;
};

TEST_F(Trash, RoundTrip) {
    // The work folder and the data home are both below the temporary folder: same device.
    fs::path photo = m_work / "2013-05-01" / "IMG 0001%.JPG";
    ASSERT_TRUE(WriteTestFile(photo, "jpeg bytes"));
    ASSERT_TRUE(DeleteToRecycleBin(photo));
    EXPECT_FALSE(fs::exists(photo));
    fs::path trashed = TrashDir() / "files" / "IMG 0001%.JPG";
    fs::path info = TrashDir() / "info" / "IMG 0001%.JPG.trashinfo";
    ASSERT_TRUE(fs::exists(trashed));
    ASSERT_TRUE(fs::exists(info));
    std::string text = ReadTestFile(info);
    EXPECT_EQ(text.rfind("[Trash Info]\nPath=", 0), 0u) << text;
    std::string escaped = fs::absolute(photo).string();
    size_t sp = escaped.find(' ');
    escaped.replace(sp, 1, "%20");
    size_t pc = escaped.find("%.JPG");
    escaped.replace(pc, 1, "%25");
    EXPECT_NE(text.find("Path=" + escaped + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nDeletionDate="), std::string::npos);
    size_t date = text.find("DeletionDate=") + 13;
    ASSERT_GE(text.size(), date + 19);
    EXPECT_EQ(text[date + 4], '-');
    EXPECT_EQ(text[date + 10], 'T');
    EXPECT_EQ(text[date + 13], ':');
    // Restore it: the bytes are intact.
    ASSERT_TRUE(MoveFileTo(trashed, photo));
    fs::remove(info);
    EXPECT_EQ(ReadTestFile(photo), "jpeg bytes");
}

TEST_F(Trash, SameNameTwiceGetsTwoEntries) {
    ASSERT_TRUE(WriteTestFile(m_work / "a" / "x.jpg", "first"));
    ASSERT_TRUE(WriteTestFile(m_work / "b" / "x.jpg", "second"));
    ASSERT_TRUE(DeleteToRecycleBin(m_work / "a" / "x.jpg"));
    ASSERT_TRUE(DeleteToRecycleBin(m_work / "b" / "x.jpg"));
    EXPECT_EQ(ReadTestFile(TrashDir() / "files" / "x.jpg"), "first");
    EXPECT_EQ(ReadTestFile(TrashDir() / "files" / "x.2.jpg"), "second");
    EXPECT_TRUE(fs::exists(TrashDir() / "info" / "x.2.jpg.trashinfo"));
    EXPECT_EQ(CountFiles(TrashDir() / "info"), 2u);
}

TEST_F(Trash, FoldersAndMissingPaths) {
    ASSERT_TRUE(WriteTestFile(m_work / "dev" / "1.jpg", "1"));
    ASSERT_TRUE(DeleteToRecycleBin(m_work / "dev"));
    EXPECT_EQ(ReadTestFile(TrashDir() / "files" / "dev" / "1.jpg"), "1");
    EXPECT_FALSE(DeleteToRecycleBin(m_work / "missing"));
    EXPECT_FALSE(DeleteToRecycleBin(""));
    EXPECT_FALSE(DeleteToRecycleBin("/"));
}

TEST_F(Trash, TrashFoldersArePrivate) {
    ASSERT_TRUE(WriteTestFile(m_work / "p.jpg", "1"));
    ASSERT_TRUE(DeleteToRecycleBin(m_work / "p.jpg"));
    struct stat st;
    ASSERT_EQ(::stat((TrashDir() / "files").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(Trash, OtherFileSystemUsesItsTopDirTrash) {
    struct stat shm, home;
    if (::stat("/dev/shm", &shm) != 0 || ::access("/dev/shm", W_OK) != 0 ||
        ::stat(m_data.Path().c_str(), &home) != 0 || shm.st_dev == home.st_dev) {
        GTEST_SKIP() << "no second writable file system";
    }
    const std::string name = "vellumo-trash-" + std::to_string(::getpid()) + ".jpg";
    fs::path file = fs::path("/dev/shm") / name;
    ASSERT_TRUE(WriteTestFile(file, "shm"));
    ASSERT_TRUE(DeleteToRecycleBin(file));
    EXPECT_FALSE(fs::exists(file));
    fs::path top = fs::path("/dev/shm") / (".Trash-" + std::to_string(::getuid()));
    fs::path shared = fs::path("/dev/shm") / ".Trash" / std::to_string(::getuid());
    fs::path root = fs::exists(shared / "files" / name) ? shared : top;
    EXPECT_EQ(ReadTestFile(root / "files" / name), "shm");
    std::string info = ReadTestFile(root / "info" / (name + ".trashinfo"));
    EXPECT_NE(info.find("\nPath=" + name + "\n"), std::string::npos) << info; // relative to the top
    fs::remove(root / "files" / name);
    fs::remove(root / "info" / (name + ".trashinfo"));
    EXPECT_FALSE(fs::exists(TrashDir() / "files" / name));
}
