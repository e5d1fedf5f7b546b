#include "library/CHDirectoryWatcher.h"
#include "library/CHRepositoryWatcher.h"
#include "library/ScanFolder.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Waits for the next change whose action is one of the wanted ones, skipping the others.
bool NextChange(CHDirectoryWatcher& watcher, std::set<int> wanted, DirChange& out,
                int timeoutMs = 2000) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (watcher.Pop(out)) {
            if (wanted.count(out.action) != 0) {
                return true;
            }
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Drains the queue for a while and returns every change seen.
std::vector<DirChange> Drain(CHDirectoryWatcher& watcher, int ms = 300) {
    std::vector<DirChange> changes;
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    DirChange change;
    while (Clock::now() < deadline) {
        if (watcher.Pop(change)) {
            changes.push_back(change);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return changes;
}

bool HasRemoval(const std::vector<DirChange>& changes, const fs::path& path) {
    for (const DirChange& change : changes) {
        if (change.action == DIR_ACTION_REMOVED && change.path == path) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(DirectoryWatcher, ReportsDeletionsAnywhereInTheTreeIncludingNewFolders) {
    TempDir dir;
    ASSERT_TRUE(WriteTestFile(dir / "dev" / "a.jpg", "a"));
    CHDirectoryWatcher watcher;
    ASSERT_TRUE(watcher.Start(dir.Path()));

    fs::remove(dir / "dev" / "a.jpg");
    DirChange change;
    ASSERT_TRUE(NextChange(watcher, {DIR_ACTION_REMOVED}, change));
    EXPECT_EQ(change.path, dir / "dev" / "a.jpg");
    EXPECT_FALSE(change.isDirectory);

    // A folder made after Start is watched as well, down to its own sub-folders.
    fs::create_directories(dir / "new" / "2013-05-01");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(WriteTestFile(dir / "new" / "2013-05-01" / "b.jpg", "b"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    fs::remove(dir / "new" / "2013-05-01" / "b.jpg");
    ASSERT_TRUE(NextChange(watcher, {DIR_ACTION_REMOVED}, change));
    EXPECT_EQ(change.path, dir / "new" / "2013-05-01" / "b.jpg");
}

TEST(DirectoryWatcher, RenameInsideIsARenameButMovingOutIsARemoval) {
    TempDir dir;
    TempDir outside;
    ASSERT_TRUE(WriteTestFile(dir / "dev" / "a.jpg", "a"));
    ASSERT_TRUE(WriteTestFile(dir / "dev" / "b.jpg", "b"));
    fs::create_directories(dir / "sub" / "inner");
    ASSERT_TRUE(WriteTestFile(dir / "sub" / "inner" / "c.jpg", "c"));
    CHDirectoryWatcher watcher;
    ASSERT_TRUE(watcher.Start(dir.Path()));

    fs::rename(dir / "dev" / "a.jpg", dir / "dev" / "renamed.jpg");
    fs::rename(dir / "dev" / "b.jpg", outside / "b.jpg");
    std::vector<DirChange> changes = Drain(watcher);
    EXPECT_FALSE(HasRemoval(changes, dir / "dev" / "a.jpg"));
    EXPECT_TRUE(HasRemoval(changes, dir / "dev" / "b.jpg"));
    bool renamed = false;
    for (size_t i = 0; i + 1 < changes.size(); ++i) {
        renamed |= changes[i].action == DIR_ACTION_RENAMED_OLD &&
                   changes[i].path == dir / "dev" / "a.jpg" &&
                   changes[i + 1].action == DIR_ACTION_RENAMED_NEW &&
                   changes[i + 1].path == dir / "dev" / "renamed.jpg";
    }
    EXPECT_TRUE(renamed);

    // A folder moved away is one removal; what happens inside it afterwards is not reported
    // under its old path.
    fs::rename(dir / "sub", outside / "sub");
    changes = Drain(watcher);
    ASSERT_TRUE(HasRemoval(changes, dir / "sub"));
    fs::remove(outside / "sub" / "inner" / "c.jpg");
    changes = Drain(watcher, 200);
    EXPECT_TRUE(changes.empty());

    // A folder renamed inside the tree keeps reporting, under its new path.
    fs::create_directories(dir / "x");
    ASSERT_TRUE(WriteTestFile(dir / "x" / "d.jpg", "d"));
    Drain(watcher, 150);
    fs::rename(dir / "x", dir / "y");
    Drain(watcher, 150);
    fs::remove(dir / "y" / "d.jpg");
    DirChange change;
    ASSERT_TRUE(NextChange(watcher, {DIR_ACTION_REMOVED}, change));
    EXPECT_EQ(change.path, dir / "y" / "d.jpg");
}

TEST(DirectoryWatcher, DoesNotFollowSymbolicLinks) {
    TempDir dir;
    TempDir elsewhere;
    ASSERT_TRUE(WriteTestFile(elsewhere / "photo.jpg", "p"));
    fs::create_directory_symlink(elsewhere.Path(), dir / "link");
    CHDirectoryWatcher watcher;
    ASSERT_TRUE(watcher.Start(dir.Path()));
    EXPECT_EQ(watcher.WatchCount(), 1u);
    fs::remove(elsewhere / "photo.jpg");
    EXPECT_FALSE(HasRemoval(Drain(watcher), dir / "link" / "photo.jpg"));
}

TEST(DirectoryWatcher, OverflowDropsTheQueueAndAsksForARescan) {
    TempDir dir;
    CHDirectoryWatcher watcher;
    ASSERT_TRUE(watcher.Start(dir.Path()));
    // Every file gives at least two changes (created, written); nobody pops meanwhile.
    for (size_t i = 0; i < CHDirectoryWatcher::kMaxQueued; ++i) {
        ASSERT_TRUE(WriteTestFile(dir / ("f" + std::to_string(i)), "x"));
    }
    DirChange change;
    ASSERT_TRUE(NextChange(watcher, {DIR_ACTION_OVERFLOW}, change, 5000));
    // The changes that waited were dropped with it.
    std::vector<DirChange> rest = Drain(watcher, 200);
    EXPECT_LT(rest.size(), CHDirectoryWatcher::kMaxQueued);
}

TEST(DirectoryWatcher, StopWakesAWaitingConsumerAndLosingTheRootIsReported) {
    TempDir dir;
    CHDirectoryWatcher watcher;
    ASSERT_TRUE(watcher.Start(dir / "."));
    std::thread consumer([&] {
        DirChange change;
        EXPECT_FALSE(watcher.Wait(change));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    watcher.Stop();
    consumer.join();

    EXPECT_FALSE(watcher.Start(dir / "missing"));
    fs::create_directories(dir / "repos");
    ASSERT_TRUE(watcher.Start(dir / "repos"));
    fs::rename(dir / "repos", dir / "moved");
    DirChange change;
    ASSERT_TRUE(NextChange(watcher, {DIR_ACTION_ROOT_LOST}, change));
}

namespace {

// A library stand-in: the images are full paths; missing ones are those without a file.
class FakeLibrary {
public:
    explicit FakeLibrary(std::vector<fs::path> images) : m_images(images.begin(), images.end()) {}

    RepositorySink Sink() {
        RepositorySink sink;
        sink.findMissing = [this](std::vector<fs::path>& missing) {
            std::lock_guard<std::mutex> lock(m_lock);
            ++m_scans;
            missing.clear();
            for (const fs::path& image : m_images) {
                std::error_code ec;
                if (!fs::exists(fs::symlink_status(image, ec))) {
                    missing.push_back(image);
                }
            }
        };
        sink.removeByPath = [this](const fs::path& path) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_images.erase(path);
            m_removed.push_back(path);
        };
        return sink;
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_images.size();
    }
    bool Has(const fs::path& path) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_images.count(path) != 0;
    }
    int Scans() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_scans;
    }

private:
    std::mutex m_lock;
    std::set<fs::path> m_images;
    std::vector<fs::path> m_removed;
    int m_scans = 0;
};

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

} // namespace

TEST(RepositoryWatcher, StartScanRemovesOnlyWhatIsReallyGone) {
    TempDir dir;
    fs::path repos = dir / "Repos";
    ASSERT_TRUE(WriteTestFile(repos / "dev" / "kept.jpg", "k"));
    FakeLibrary library({repos / "dev" / "kept.jpg", repos / "dev" / "gone.jpg"});
    CHRepositoryWatcher watcher(library.Sink());
    ASSERT_TRUE(watcher.Start(repos));
    ASSERT_TRUE(watcher.WaitIdle(3000));
    EXPECT_EQ(watcher.ScanCount(), 1u);
    EXPECT_TRUE(library.Has(repos / "dev" / "kept.jpg"));
    EXPECT_FALSE(library.Has(repos / "dev" / "gone.jpg"));
}

TEST(RepositoryWatcher, AnUnavailableOrEmptiedFolderNeverEmptiesTheLibrary) {
    TempDir dir;
    fs::path repos = dir / "Repos";
    std::vector<fs::path> images = {repos / "dev" / "a.jpg", repos / "dev" / "b.jpg"};
    {
        // The folder does not exist (drive not mounted): no scan, nothing removed.
        FakeLibrary library(images);
        CHRepositoryWatcher watcher(library.Sink());
        EXPECT_FALSE(watcher.Start(repos));
        ASSERT_TRUE(watcher.WaitIdle(3000));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(library.Scans(), 0);
        EXPECT_EQ(library.Count(), 2u);
    }
    {
        // An empty folder where the drive should be mounted: scanned, but nothing removed.
        fs::create_directories(repos);
        FakeLibrary library(images);
        CHRepositoryWatcher watcher(library.Sink());
        ASSERT_TRUE(watcher.Start(repos));
        ASSERT_TRUE(watcher.WaitIdle(3000));
        EXPECT_EQ(library.Scans(), 1);
        EXPECT_EQ(library.Count(), 2u);
    }
}

TEST(RepositoryWatcher, WithTheLibraryFilePresentGoneFoldersTakeTheirImages) {
    // The library file beside the repository shows the storage is mounted: a device folder
    // deleted while nothing watched (the repository now empty), or the repository folder
    // itself gone, takes its images along.
    TempDir dir;
    fs::path repos = dir / "Repos";
    ASSERT_TRUE(WriteTestFile(dir / "Vellumo.cfg", "library"));
    std::vector<fs::path> images = {repos / "dev" / "a.jpg", repos / "dev" / "b.jpg"};
    {
        fs::create_directories(repos);
        FakeLibrary library(images);
        CHRepositoryWatcher watcher(library.Sink());
        ASSERT_TRUE(watcher.Start(repos));
        ASSERT_TRUE(WaitFor([&] { return library.Count() == 0; }, 3000));
    }
    {
        fs::remove_all(repos);
        FakeLibrary library(images);
        CHRepositoryWatcher watcher(library.Sink());
        EXPECT_FALSE(watcher.Start(repos));
        ASSERT_TRUE(WaitFor([&] { return library.Count() == 0; }, 4000));
    }
    {
        // Live: the repository folder is deleted while watched.
        ASSERT_TRUE(WriteTestFile(repos / "dev" / "a.jpg", "a"));
        ASSERT_TRUE(WriteTestFile(repos / "dev" / "b.jpg", "b"));
        FakeLibrary library(images);
        CHRepositoryWatcher watcher(library.Sink());
        ASSERT_TRUE(watcher.Start(repos));
        ASSERT_TRUE(watcher.WaitIdle(3000));
        ASSERT_EQ(library.Count(), 2u);
        fs::remove_all(repos);
        ASSERT_TRUE(WaitFor([&] { return library.Count() == 0; }, 4000));
    }
}

TEST(RepositoryWatcher, LiveDeletionsAndRemovedFoldersLeaveTheLibraryQuickly) {
    TempDir dir;
    TempDir outside;
    fs::path repos = dir / "Repos";
    std::vector<fs::path> images;
    for (const char* name : {"a.jpg", "b.jpg"}) {
        for (const char* device : {"phone", "tablet", "camera"}) {
            ASSERT_TRUE(WriteTestFile(repos / device / name, name));
            images.push_back(repos / device / name);
        }
    }
    FakeLibrary library(images);
    CHRepositoryWatcher watcher(library.Sink());
    ASSERT_TRUE(watcher.Start(repos));
    ASSERT_TRUE(watcher.WaitIdle(3000));
    ASSERT_EQ(library.Count(), 6u);

    auto started = Clock::now();
    fs::remove(repos / "phone" / "a.jpg");
    ASSERT_TRUE(WaitFor([&] { return !library.Has(repos / "phone" / "a.jpg"); }, 1000));
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));

    // A renamed file stays in the library until something calls for a scan.
    fs::rename(repos / "phone" / "b.jpg", repos / "phone" / "c.jpg");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(library.Has(repos / "phone" / "b.jpg"));
    // A folder moved away and a folder deleted take their images with them; the scan this
    // calls for also finds the renamed file's old path gone.
    fs::rename(repos / "tablet", outside / "tablet");
    fs::remove_all(repos / "camera");
    ASSERT_TRUE(WaitFor([&] { return library.Count() == 0; }, 2000));
}

TEST(RepositoryWatcher, MovingTheLastFolderAwayStillRemovesItsImages) {
    TempDir dir;
    TempDir outside;
    fs::path repos = dir / "Repos";
    ASSERT_TRUE(WriteTestFile(repos / "only" / "a.jpg", "a"));
    FakeLibrary library({repos / "only" / "a.jpg"});
    CHRepositoryWatcher watcher(library.Sink());
    ASSERT_TRUE(watcher.Start(repos));
    ASSERT_TRUE(watcher.WaitIdle(3000));
    // The repository is empty afterwards, but the user was seen moving the folder.
    fs::rename(repos / "only", outside / "only");
    ASSERT_TRUE(WaitFor([&] { return library.Count() == 0; }, 2000));
}

TEST(RepositoryWatcher, AFolderThatComesBackIsWatchedAndScannedAgain) {
    TempDir dir;
    fs::path repos = dir / "Repos";
    ASSERT_TRUE(WriteTestFile(repos / "dev" / "a.jpg", "a"));
    ASSERT_TRUE(WriteTestFile(repos / "dev" / "b.jpg", "b"));
    FakeLibrary library({repos / "dev" / "a.jpg", repos / "dev" / "b.jpg"});
    CHRepositoryWatcher watcher(library.Sink());
    ASSERT_TRUE(watcher.Start(repos));
    ASSERT_TRUE(watcher.WaitIdle(3000));

    // The whole repository goes away, as when its drive is detached: nothing is removed.
    fs::rename(repos, dir / "away");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(library.Count(), 2u);
    // It comes back without one file: the rescan finds that one, and live deletions work again.
    fs::remove(dir / "away" / "dev" / "a.jpg");
    fs::rename(dir / "away", repos);
    ASSERT_TRUE(WaitFor([&] { return library.Count() == 1; }, 4000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fs::remove(repos / "dev" / "b.jpg");
    ASSERT_TRUE(WaitFor([&] { return library.Count() == 0; }, 2000));
}

TEST(RepositoryWatcher, StopJoinsPromptlyAndCanRestart) {
    TempDir dir;
    FakeLibrary library({});
    CHRepositoryWatcher watcher(library.Sink());
    EXPECT_FALSE(watcher.Start(dir / "missing")); // keeps looking for the folder
    auto started = Clock::now();
    watcher.Stop();
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(500));
    EXPECT_FALSE(watcher.IsRunning());
    ASSERT_TRUE(watcher.Start(dir.Path()));
    EXPECT_TRUE(watcher.IsRunning());
}

TEST(ScanFolder, ListsImageTreesWithoutFollowingLinks) {
    TempDir dir;
    Json::Value tree;
    std::vector<fs::path> files;
    EXPECT_FALSE(ScanFolder(dir.Path(), tree, files));
    EXPECT_TRUE(tree.isObject());
    EXPECT_EQ(tree.size(), 0u);

    ASSERT_TRUE(WriteTestFile(dir / "a.jpg", "1"));
    ASSERT_TRUE(WriteTestFile(dir / "notes.txt", "2"));
    ASSERT_TRUE(WriteTestFile(dir / "trip" / "day1" / "b.JPG", "3"));
    fs::create_directory_symlink(dir.Path(), dir / "trip" / "loop");
    ASSERT_TRUE(ScanFolder(dir.Path(), tree, files,
                           [](const fs::path& file) { return file.extension() != ".txt"; }));
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], dir / "a.jpg"); // the first entry of the listing is not skipped
    EXPECT_EQ(tree["a.jpg"].asString(), (dir / "a.jpg").string());
    EXPECT_EQ(tree["trip"]["day1"]["b.JPG"].asString(), (dir / "trip" / "day1" / "b.JPG").string());
    EXPECT_FALSE(tree.isMember("notes.txt"));
    EXPECT_FALSE(tree["trip"].isMember("loop"));
}
