#include "shell/CRootMover.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>

namespace {

// A storage root with a library file, photos in device folders and thumbnail stores.
std::map<std::string, std::string> MakeRoot(const fs::path& root) {
    std::map<std::string, std::string> files = {
        {"Vellumo.cfg", "SQLite format 3 library"},
        {"Repos/phone/IMG_0001.JPG", std::string(300000, 'a')},
        {"Repos/local/2013-05-01/b.png", "png bytes"},
        {"Thumb/1.thumb", "thumbs"},
    };
    for (const auto& [name, bytes] : files) {
        EXPECT_TRUE(WriteTestFile(root / name, bytes));
    }
    fs::create_directories(root / "Repos" / "empty-device");
    return files;
}

void ExpectFiles(const fs::path& root, const std::map<std::string, std::string>& files) {
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(ReadTestFile(root / name), bytes) << (root / name);
    }
}

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// A folder on another file system than the temporary folder, when the machine has one.
fs::path OtherFileSystemFolder(const fs::path& than) {
    struct stat a {};
    struct stat b {};
    if (stat("/dev/shm", &b) != 0 || stat(than.c_str(), &a) != 0 || a.st_dev == b.st_dev ||
        access("/dev/shm", W_OK) != 0) {
        return {};
    }
    return "/dev/shm";
}

} // namespace

TEST(RootMover, MovesLibraryPhotosAndThumbnailsAndCommitsOnce) {
    TempDir dir;
    auto files = MakeRoot(dir / "old");
    fs::create_directories(dir / "new" / "Repos"); // empty placeholders give way
    fs::create_directories(dir / "new" / "Thumb");
    CRootMover mover(dir / "old", dir / "new/");
    int commits = 0;
    std::string reason;
    ASSERT_EQ(mover.Move([&] { return ++commits > 0; }, reason), RootMoveStatus::Moved) << reason;
    EXPECT_EQ(commits, 1);
    ExpectFiles(dir / "new", files);
    EXPECT_TRUE(fs::is_directory(dir / "new" / "Repos" / "empty-device"));
    EXPECT_FALSE(Exists(dir / "old" / "Vellumo.cfg"));
    EXPECT_FALSE(Exists(dir / "old" / "Repos"));
}

TEST(RootMover, RefusesUnsafeTargetsWithoutTouchingAnything) {
    TempDir dir;
    auto files = MakeRoot(dir / "root");
    fs::create_directories(dir / "parent");
    fs::create_directory_symlink(dir / "root", dir / "alias");
    std::string reason;
    auto check = [&](const fs::path& target) {
        CRootMover mover(dir / "root", target);
        bool committed = false;
        RootMoveStatus status = mover.Move([&] { return committed = true; }, reason);
        EXPECT_FALSE(committed);
        return status;
    };
    EXPECT_EQ(check(dir / "root" / "."), RootMoveStatus::SameRoot);
    EXPECT_EQ(check(dir / "alias"), RootMoveStatus::SameRoot);
    EXPECT_EQ(check(dir / "root" / "Repos" / "inner"), RootMoveStatus::Refused);
    EXPECT_EQ(check(dir.Path()), RootMoveStatus::Refused); // the old root lies inside
    EXPECT_EQ(check(""), RootMoveStatus::Refused);

    ASSERT_TRUE(WriteTestFile(dir / "file", "x"));
    EXPECT_EQ(check(dir / "file"), RootMoveStatus::Refused);
    ASSERT_TRUE(WriteTestFile(dir / "other" / "Vellumo.cfg", "another library"));
    EXPECT_EQ(check(dir / "other"), RootMoveStatus::Refused);
    ASSERT_TRUE(WriteTestFile(dir / "busy" / "Repos" / "x.jpg", "x"));
    EXPECT_EQ(check(dir / "busy"), RootMoveStatus::Refused);
    EXPECT_EQ(ReadTestFile(dir / "other" / "Vellumo.cfg"), "another library");
    ExpectFiles(dir / "root", files);
}

TEST(RootMover, AFailedCommitPutsEverythingBack) {
    TempDir dir;
    auto files = MakeRoot(dir / "old");
    CRootMover mover(dir / "old", dir / "new");
    std::string reason;
    EXPECT_EQ(mover.Move([] { return false; }, reason), RootMoveStatus::Failed);
    EXPECT_FALSE(reason.empty());
    ExpectFiles(dir / "old", files);
    EXPECT_FALSE(Exists(dir / "new")); // made by the move, removed with it
}

TEST(RootMover, AcrossFileSystemsCopiesChecksThenDeletesTheSource) {
    TempDir dir;
    std::vector<fs::path> targets = {dir / "copied"};
    fs::path other = OtherFileSystemFolder(dir.Path());
    std::unique_ptr<TempDir> otherDir;
    if (!other.empty()) {
        setenv("TMPDIR", other.c_str(), 1);
        otherDir = std::make_unique<TempDir>("vellumo-move");
        unsetenv("TMPDIR");
        targets.push_back(otherDir->Path() / "new");
    }
    for (const fs::path& target : targets) {
        auto files = MakeRoot(dir / "old");
        fs::create_symlink("phone/IMG_0001.JPG", dir / "old" / "Repos" / "link");
        CRootMover mover(dir / "old", target);
        mover.SetForceCopy(target == dir / "copied");
        std::string reason;
        bool sourcesAtCommit = false;
        ASSERT_EQ(
            mover.Move([&] { return sourcesAtCommit = Exists(dir / "old" / "Repos"); }, reason),
            RootMoveStatus::Moved)
            << reason;
        EXPECT_TRUE(sourcesAtCommit); // nothing was deleted before the commit
        ExpectFiles(target, files);
        EXPECT_TRUE(fs::is_symlink(target / "Repos" / "link"));
        EXPECT_FALSE(Exists(dir / "old" / "Repos"));
        EXPECT_FALSE(Exists(dir / "old" / "Vellumo.cfg"));
    }
}

TEST(RootMover, AFailedCopyLeavesTheSourcesAndRemovesThePartialCopy) {
    TempDir dir;
    auto files = MakeRoot(dir / "old");
    // A special file cannot be copied; it sits in the last folder to be moved.
    ASSERT_EQ(mkfifo((dir / "old" / "Thumb" / "pipe").c_str(), 0600), 0);
    for (bool failCommit : {false, true}) {
        CRootMover mover(dir / "old", dir / "new");
        mover.SetForceCopy(true);
        std::string reason;
        if (failCommit) {
            fs::remove(dir / "old" / "Thumb" / "pipe");
        }
        EXPECT_EQ(mover.Move([&] { return !failCommit; }, reason) == RootMoveStatus::Moved, false);
        ExpectFiles(dir / "old", files);
        EXPECT_FALSE(Exists(dir / "new" / "Vellumo.cfg"));
        EXPECT_FALSE(Exists(dir / "new" / "Repos"));
    }
}
