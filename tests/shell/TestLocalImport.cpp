#include "shell/CLocalImport.h"
#include "shell/CVellumoApp.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

namespace {

class Collector {
public:
    CLocalImport::Sink Sink() {
        return [this](const fs::path& file, const std::string& label) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_files.insert(file);
            m_labels.insert(label);
        };
    }
    std::set<fs::path> Files() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_files;
    }
    std::set<std::string> Labels() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_labels;
    }

private:
    std::mutex m_lock;
    std::set<fs::path> m_files;
    std::set<std::string> m_labels;
};

} // namespace

TEST(LocalImport, FoldersGiveTheirImagesAndFilesGivenDirectlyAlwaysCount) {
    TempDir dir;
    for (const char* name :
         {"a.JPG", "b.TIF", "c.txt", "d.jpeg", "e.Tiff", "g.HEIC", "h.heif", "i.Avif", "j.heics"}) {
        ASSERT_TRUE(WriteTestFile(dir / "photos" / name, name));
    }
    ASSERT_TRUE(WriteTestFile(dir / "photos" / "deeper" / "f.png", "f"));
    Collector folder;
    {
        CLocalImport import(folder.Sink());
        import.Queue({dir / "photos/"}, "localhost");
        ASSERT_TRUE(import.WaitIdle(5000));
    }
    EXPECT_EQ(folder.Files(),
              (std::set<fs::path>{dir / "photos" / "a.JPG", dir / "photos" / "d.jpeg",
                                  dir / "photos" / "e.Tiff", dir / "photos" / "g.HEIC",
                                  dir / "photos" / "h.heif", dir / "photos" / "i.Avif",
                                  dir / "photos" / "deeper" / "f.png"}));
    EXPECT_EQ(folder.Labels(), std::set<std::string>{"localhost"});

    Collector direct;
    CLocalImport import(direct.Sink());
    import.Queue({dir / "photos" / "a.JPG", dir / "photos" / "b.TIF", dir / "photos" / "c.txt",
                  dir / "missing.jpg"},
                 "localhost");
    ASSERT_TRUE(import.WaitIdle(5000));
    EXPECT_EQ(direct.Files().size(), 3u);
}

TEST(LocalImport, SameNamesInOneJobAreAllImported) {
    TempDir dir;
    ASSERT_TRUE(WriteTestFile(dir / "a" / "photos" / "1.jpg", "1"));
    ASSERT_TRUE(WriteTestFile(dir / "b" / "photos" / "2.jpg", "2"));
    ASSERT_TRUE(WriteTestFile(dir / "a" / "IMG.jpg", "3"));
    ASSERT_TRUE(WriteTestFile(dir / "b" / "IMG.jpg", "4"));
    std::vector<fs::path> paths = {dir / "a" / "photos", dir / "b" / "photos",
                                   dir / "a" / "IMG.jpg", dir / "b" / "IMG.jpg"};
    Json::Value tree = CLocalImport::BuildTree(paths);
    EXPECT_TRUE(tree.isMember("photos"));
    EXPECT_TRUE(tree.isMember("photos (2)"));
    EXPECT_TRUE(tree.isMember("IMG.jpg"));
    EXPECT_TRUE(tree.isMember("IMG.jpg (2)"));

    Collector collector;
    CLocalImport import(collector.Sink());
    import.Queue(paths, "localhost");
    ASSERT_TRUE(import.WaitIdle(5000));
    EXPECT_EQ(collector.Files().size(), 4u);
}

TEST(LocalImport, StopDropsPendingJobsAndNothingArrivesAfterIt) {
    TempDir dir;
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(WriteTestFile(dir / "many" / (std::to_string(i) + ".jpg"), "x"));
    }
    std::atomic<int> calls{0};
    std::atomic<bool> stopped{false};
    std::atomic<int> afterStop{0};
    CLocalImport import([&](const fs::path&, const std::string&) {
        ++calls;
        if (stopped) {
            ++afterStop;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    for (int job = 0; job < 20; ++job) {
        import.Queue({dir / "many"}, "localhost");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    import.Stop();
    stopped = true;
    int atStop = calls.load();
    import.Queue({dir / "many"}, "localhost"); // ignored
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(calls.load(), atStop);
    EXPECT_EQ(afterStop.load(), 0);
    EXPECT_LT(atStop, 20 * 200);
}

TEST(CommandLine, SwitchesValuesAndSilenceOnlyInFirstPlace) {
    AppOptions a = CVellumoApp::ParseArguments({"vellumo", "--silence", "--headless"});
    EXPECT_TRUE(a.silence);
    EXPECT_TRUE(a.headless);
    EXPECT_FALSE(CVellumoApp::ParseArguments({"vellumo", "--headless", "--silence"}).silence);
    AppOptions upper = CVellumoApp::ParseArguments({"vellumo", "--SILENCE"});
    EXPECT_FALSE(upper.silence);
    EXPECT_EQ(upper.unknown, std::vector<std::string>{"--SILENCE"});

    AppOptions set = CVellumoApp::ParseArguments(
        {"vellumo", "--set-password", "--headless", "--set-root", "/data"});
    EXPECT_TRUE(set.setPassword);
    EXPECT_EQ(set.password, "--headless"); // a value is taken as it is
    EXPECT_FALSE(set.headless);
    EXPECT_EQ(set.root, "/data");
    EXPECT_FALSE(CVellumoApp::ParseArguments({"vellumo", "--set-root"}).error.empty());
    EXPECT_TRUE(CVellumoApp::ParseArguments({"vellumo", "--set-root", "/d", "--adopt"}).adopt);
    EXPECT_FALSE(CVellumoApp::ParseArguments({"vellumo", "--adopt"}).error.empty());
    EXPECT_TRUE(CVellumoApp::ParseArguments({"vellumo", "--help"}).help);
    for (const char* word : {"--headless", "--set-password", "--set-root", "--adopt", "--silence",
                             "VELLUMO_PORT", "SIGTERM"}) {
        EXPECT_NE(CVellumoApp::UsageText().find(word), std::string::npos) << word;
    }
}
