#include "library/CHDBCenter.h"
#include "library/CHRepositoryWatcher.h"
#include "media/JsonText.h"
#include "shell/AccessPoints.h"
#include "shell/CVellumoCore.h"
#include "shell/StoragePaths.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestImages.h"
#include "tests/support/TestProcess.h"

#include <gtest/gtest.h>

#include <set>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

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

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        setenv("XDG_DOCUMENTS_DIR", (m_dir / "docs").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
        fs::create_directories(m_dir / "tmp");
        setenv("TMPDIR", (m_dir / "tmp").c_str(), 1);
        m_options.servicePort = 0;
        m_options.pointerFile = m_dir / "config" / "Vellumo" / "Vellumo.cfg";
    }
    void TearDown() override { unsetenv("TMPDIR"); }

    std::unique_ptr<CVellumoCore> StartCore() {
        auto core = std::make_unique<CVellumoCore>(m_options);
        EXPECT_TRUE(core->Start()) << core->StorageError();
        return core;
    }

    // Photos with different pixels (so different digests) in a folder outside the root.
    std::vector<fs::path> MakePhotos(const fs::path& folder, int count, uint32_t seed = 1) {
        std::vector<fs::path> files;
        for (int i = 0; i < count; ++i) {
            TestJpegOptions options;
            options.seed = seed + static_cast<uint32_t>(i);
            options.withExif = true;
            options.exif.dateTime = "2013:05:0" + std::to_string(1 + i % 9) + " 08:30:00";
            fs::path file = folder / ("IMG_" + std::to_string(seed + i) + ".jpg");
            EXPECT_TRUE(WriteTestJpeg(file, options));
            files.push_back(file);
        }
        return files;
    }

    static int ImageCount(CVellumoCore& core) {
        int count = 0;
        int64_t bytes = 0;
        core.Library()->GetStatistics(count, bytes, nullptr);
        return count;
    }

    static std::vector<Pid> LocalPids(CVellumoCore& core) {
        Json::Value devices;
        core.Library()->GetDevicesJson(devices);
        std::vector<Pid> pids;
        for (const Json::Value& pid : JsonMember(JsonMember(devices, "localhost"), "imgs")) {
            pids.push_back(pid.asInt64());
        }
        return pids;
    }

    void ImportAndWait(CVellumoCore& core, const std::vector<fs::path>& paths, int expected) {
        core.ImportLocalFiles(paths);
        ASSERT_TRUE(WaitFor([&] { return ImageCount(core) == expected; }, 15000))
            << ImageCount(core);
        ASSERT_TRUE(core.Library()->WaitIdle(5000));
    }

    TempDir m_dir;
    CoreOptions m_options;
};

} // namespace

TEST_F(CoreTest, StartsAndStopsInOrder) {
    auto core = StartCore();
    EXPECT_TRUE(core->IsFirstRun());
    fs::path root = m_dir / "docs" / "Vellumo";
    EXPECT_EQ(core->GetRootPath(), root);
    EXPECT_EQ(core->GetReposPath(), root / "Repos");
    EXPECT_EQ(core->GetThumbPath(), root / "Thumb");
    EXPECT_TRUE(fs::is_directory(root / "Repos"));
    EXPECT_TRUE(fs::is_directory(root / "Thumb"));
    EXPECT_TRUE(fs::is_regular_file(root / "Vellumo.cfg"));
    fs::path temp = core->GetTempFolder();
    EXPECT_EQ(temp.parent_path(), m_dir / "tmp");
    EXPECT_TRUE(fs::is_directory(temp));
    EXPECT_EQ(GetMainWnd(), core.get());
    EXPECT_EQ(GetDBCenter(), core->Library());
    EXPECT_NE(GetNotifyHub(), nullptr);
    EXPECT_GT(core->WaitServicePort(5000), 0);
    EXPECT_TRUE(core->Watcher()->IsRunning());

    core->Stop();
    EXPECT_EQ(GetMainWnd(), nullptr);
    EXPECT_EQ(GetDBCenter(), nullptr);
    EXPECT_EQ(core->Library(), nullptr);
    EXPECT_FALSE(fs::exists(temp));
    core->Stop(); // twice is harmless
}

TEST_F(CoreTest, APointerFileWithoutAnObjectMeansTheDefaultRoot) {
    ASSERT_TRUE(WriteTestFile(m_options.pointerFile, "[\"not\", \"an\", \"object\"]"));
    auto core = StartCore();
    EXPECT_FALSE(core->IsFirstRun());
    EXPECT_EQ(core->GetRootPath(), m_dir / "docs" / "Vellumo");
    core->Stop();

    ASSERT_TRUE(WriteSettingsRoot(m_options.pointerFile, m_dir / "chosen"));
    core = StartCore();
    EXPECT_EQ(core->GetRootPath(), m_dir / "chosen");
    EXPECT_TRUE(fs::is_regular_file(m_dir / "chosen" / "Vellumo.cfg"));
}

TEST_F(CoreTest, PairingPasswordIsEightRandomDigitsUntilChanged) {
    auto core = StartCore();
    std::string password = core->EnsurePairingPassword();
    ASSERT_EQ(password.size(), 8u);
    EXPECT_EQ(password.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(core->EnsurePairingPassword(), password);
    EXPECT_EQ(core->GetPairingPassword(), password);

    EXPECT_FALSE(core->SetPairingPassword(""));
    EXPECT_FALSE(core->SetPairingPassword(std::string(21, 'a')));
    EXPECT_FALSE(core->SetPairingPassword("line\nbreak"));
    EXPECT_FALSE(core->SetPairingPassword("\xff\xfe"));
    EXPECT_EQ(core->GetPairingPassword(), password);
    std::string twenty = "密码密码密码密码密码密码密码密码密码密码"; // 20 characters, 60 bytes
    EXPECT_TRUE(core->SetPairingPassword(twenty));
    EXPECT_EQ(core->EnsurePairingPassword(), twenty);
}

// Guessing is bounded by "/auth"; the space guessed in must be the whole of it: every digit in
// every place, leading zeros kept.
TEST(CorePairingPassword, GeneratedPasswordsSpreadOverAllEightDigits) {
    std::set<std::string> seen;
    std::vector<std::set<char>> digits(8);
    for (int i = 0; i < 400; ++i) {
        const std::string password = CVellumoCore::RandomPairingPassword();
        ASSERT_EQ(password.size(), 8u) << password;
        for (size_t place = 0; place < 8; ++place) {
            ASSERT_TRUE(password[place] >= '0' && password[place] <= '9') << password;
            digits[place].insert(password[place]);
        }
        seen.insert(password);
    }
    EXPECT_GE(seen.size(), 399u);
    for (const std::set<char>& place : digits) {
        EXPECT_EQ(place.size(), 10u);
    }
}

TEST_F(CoreTest, UsageReportIsStoredAtShutdown) {
    auto core = StartCore();
    fs::path root = core->GetRootPath();
    core->AddCount(1000, 1);
    core->AddCount(1000, 1);
    core->AddCount(1004, 1);
    core->SetCount(1001, 7);
    core->AddCountItem(1005, "phone-key");
    core->AddCountItem(1005, "phone-key");
    core->Stop();

    CHDBCenter library;
    library.SetServicePort(-1);
    ASSERT_EQ(library.OpenLibrary(root), 1);
    Json::Value report;
    ASSERT_TRUE(JsonParse(library.GetConfig("count_data"), report));
    EXPECT_EQ(report["1000"].asInt64(), 2);
    EXPECT_EQ(report["1004"].asInt64(), 1);
    EXPECT_EQ(report["1001"].asInt64(), 7);
    ASSERT_EQ(report["devices"].size(), 1u);
    EXPECT_EQ(report["devices"][0].asString(), "phone-key");
    EXPECT_EQ(report["pcID"].asString().size(), 32u);
}

TEST_F(CoreTest, LocalImportThenADeletedRepositoryFileLeavesTheLibrary) {
    auto core = StartCore();
    MakePhotos(m_dir / "pick" / "a" / "photos", 2, 10);
    MakePhotos(m_dir / "pick" / "b" / "photos", 1, 20);
    ASSERT_TRUE(WriteTestFile(m_dir / "pick" / "a" / "photos" / "notes.txt", "no photo"));
    ImportAndWait(*core, {m_dir / "pick" / "a" / "photos", m_dir / "pick" / "b" / "photos"}, 3);

    std::vector<Pid> pids = LocalPids(*core);
    ASSERT_EQ(pids.size(), 3u);
    fs::path file = core->Library()->GetImagePath(pids[0]);
    ASSERT_TRUE(fs::exists(file));
    auto started = Clock::now();
    fs::remove(file);
    ASSERT_TRUE(WaitFor([&] { return core->Library()->GetImagePath(pids[0]).empty(); }, 1000));
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(ImageCount(*core), 2);
}

TEST_F(CoreTest, RootMoveCarriesEveryPhotoAndRecordsTheNewRoot) {
    for (bool acrossFileSystems : {false, true}) {
        SCOPED_TRACE(acrossFileSystems);
        TempDir dir;
        m_options.pointerFile = dir / "config" / "Vellumo.cfg";
        m_options.forceCopyOnMove = acrossFileSystems;
        ASSERT_TRUE(WriteSettingsRoot(m_options.pointerFile, dir / "old"));
        auto core = StartCore();
        ImportAndWait(*core, MakePhotos(dir / "pick", 3), 3);

        ASSERT_TRUE(core->SetRootPath(dir / "new")) << core->LastRootMoveError();
        EXPECT_EQ(core->GetRootPath(), dir / "new");
        EXPECT_EQ(core->GetReposPath(), dir / "new" / "Repos");
        EXPECT_EQ(ReadSettingsRoot(m_options.pointerFile), dir / "new");
        EXPECT_FALSE(fs::exists(dir / "old" / "Vellumo.cfg"));
        EXPECT_FALSE(fs::exists(dir / "old" / "Repos"));
        EXPECT_EQ(ImageCount(*core), 3);
        for (Pid pid : LocalPids(*core)) {
            fs::path file = core->Library()->GetImagePath(pid);
            EXPECT_EQ(file.string().rfind((dir / "new" / "Repos").string(), 0), 0u) << file;
            EXPECT_TRUE(fs::exists(file)) << file;
        }
        // The watcher follows the root: a deletion at the new place is seen.
        EXPECT_TRUE(core->Watcher()->IsRunning());
        Pid first = LocalPids(*core).front();
        fs::remove(core->Library()->GetImagePath(first));
        EXPECT_TRUE(WaitFor([&] { return core->Library()->GetImagePath(first).empty(); }, 1000));
        // An import after the move lands at the new root.
        ImportAndWait(*core, MakePhotos(dir / "later", 1, 50), 3);
        core->Stop();
        core = StartCore();
        EXPECT_EQ(core->GetRootPath(), dir / "new");
        EXPECT_EQ(ImageCount(*core), 3);
    }
}

TEST_F(CoreTest, ImportsArrivingDuringARootMoveLandAtTheNewRoot) {
    ASSERT_TRUE(WriteSettingsRoot(m_options.pointerFile, m_dir / "old"));
    auto core = StartCore();
    ImportAndWait(*core, MakePhotos(m_dir / "pick", 12), 12);
    std::vector<fs::path> later = MakePhotos(m_dir / "later", 8, 100);
    std::thread uploader([&] {
        for (const fs::path& file : later) {
            core->ImportFileWithProgress(file, "localhost", "");
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    bool moved = core->SetRootPath(m_dir / "new");
    uploader.join();
    ASSERT_TRUE(moved) << core->LastRootMoveError();
    ASSERT_TRUE(WaitFor([&] { return ImageCount(*core) == 20; }, 15000)) << ImageCount(*core);
    ASSERT_TRUE(core->Library()->WaitIdle(5000));
    for (Pid pid : LocalPids(*core)) {
        fs::path file = core->Library()->GetImagePath(pid);
        EXPECT_EQ(file.string().rfind((m_dir / "new" / "Repos").string(), 0), 0u) << file;
        EXPECT_TRUE(fs::exists(file)) << file;
    }
    EXPECT_FALSE(fs::exists(m_dir / "old" / "Repos"));
}

TEST_F(CoreTest, UploadsHeldDuringARootMoveKeepTheirPlaceInTheQueue) {
    // The upload service removes a received file once a later one has been stored, trusting
    // that the library stores them in the order they were handed over. Uploads held while the
    // root moves must therefore not be overtaken by those arriving as the gate reopens.
    m_options.forceCopyOnMove = true;
    ASSERT_TRUE(WriteSettingsRoot(m_options.pointerFile, m_dir / "old"));
    auto core = StartCore();
    ImportAndWait(*core, MakePhotos(m_dir / "pick", 20), 20);
    const fs::path repeated = MakePhotos(m_dir / "same", 1, 500).front();
    const fs::path heldLast = MakePhotos(m_dir / "held", 1, 600).front();
    const std::vector<fs::path> late = MakePhotos(m_dir / "late", 300, 1000);
    CHDBCenter* library = core->Library();
    std::atomic<bool> closedSeen{false};
    std::atomic<bool> moveReturned{false};
    std::atomic<bool> heldWhileClosed{false};
    size_t lateSent = 0;
    std::thread phone([&] {
        auto send = [&](const fs::path& file, const std::string& token) {
            core->ImportFileWithProgress(file, "localhost", token);
        };
        while (library->IsOpen() && !moveReturned) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        if (moveReturned) {
            return;
        }
        closedSeen = true;
        for (int n = 0; n < 10000 && !library->IsOpen(); ++n) {
            send(repeated, "r" + std::to_string(n));
        }
        send(heldLast, "held");
        heldWhileClosed = !library->IsOpen();
        while (!library->IsOpen() && !moveReturned) {
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
        // Keeps sending until the move has returned: some arrive while the held ones go on.
        while (lateSent < late.size() && !moveReturned) {
            send(late[lateSent], "late" + std::to_string(lateSent));
            ++lateSent;
            std::this_thread::sleep_for(std::chrono::microseconds(30));
        }
    });
    bool moved = core->SetRootPath(m_dir / "new");
    moveReturned = true;
    phone.join();
    ASSERT_TRUE(moved) << core->LastRootMoveError();
    ASSERT_TRUE(closedSeen);
    if (!heldWhileClosed) {
        GTEST_SKIP() << "the move was over before the last held upload was sent";
    }
    ASSERT_GT(lateSent, 0u);
    const std::string lastToken = "late" + std::to_string(lateSent - 1);
    ASSERT_TRUE(WaitFor([&] { return library->FindPidByMd5(lastToken) != 0; }, 60000));
    ASSERT_TRUE(library->WaitIdle(20000));
    Pid held = library->FindPidByMd5("held");
    ASSERT_NE(held, 0);
    size_t overtaking = 0;
    for (size_t i = 0; i < lateSent; ++i) {
        Pid pid = library->FindPidByMd5("late" + std::to_string(i));
        ASSERT_NE(pid, 0) << i;
        overtaking += pid < held ? 1 : 0;
    }
    EXPECT_EQ(overtaking, 0u) << "of " << lateSent << " uploads after the held ones";
}

TEST_F(CoreTest, RefusedAndFailedMovesKeepTheOldRoot) {
    // The pointer file cannot be written (its folder is a regular file): the move is undone.
    ASSERT_TRUE(WriteTestFile(m_dir / "blocker", "x"));
    m_options.pointerFile = m_dir / "blocker" / "Vellumo.cfg";
    auto core = StartCore();
    fs::path root = core->GetRootPath();
    ImportAndWait(*core, MakePhotos(m_dir / "pick", 2), 2);

    EXPECT_FALSE(core->SetRootPath(m_dir / "new"));
    EXPECT_FALSE(core->LastRootMoveError().empty());
    EXPECT_FALSE(core->SetRootPath(root / "Repos" / "inside"));
    EXPECT_FALSE(core->SetRootPath(m_dir.Path()));
    EXPECT_EQ(core->GetRootPath(), root);
    EXPECT_FALSE(fs::exists(m_dir / "new"));
    EXPECT_TRUE(core->Library()->IsOpen());
    EXPECT_EQ(ImageCount(*core), 2);
    for (Pid pid : LocalPids(*core)) {
        EXPECT_TRUE(fs::exists(core->Library()->GetImagePath(pid)));
    }
    EXPECT_TRUE(core->Watcher()->IsRunning());
}

TEST_F(CoreTest, MovingToTheSameRootMovesNothingButRecordsIt) {
    auto core = StartCore();
    fs::path root = core->GetRootPath();
    ImportAndWait(*core, MakePhotos(m_dir / "pick", 1), 1);
    EXPECT_FALSE(fs::exists(m_options.pointerFile));
    ASSERT_TRUE(core->SetRootPath(root.string() + "/./"));
    EXPECT_EQ(ReadSettingsRoot(m_options.pointerFile), root);
    EXPECT_EQ(core->GetRootPath(), root);
    EXPECT_EQ(ImageCount(*core), 1);
}

TEST_F(CoreTest, ShutdownWithImportsStillQueuedIsClean) {
    auto core = StartCore();
    std::vector<fs::path> photos = MakePhotos(m_dir / "pick", 30);
    for (int i = 0; i < 5; ++i) {
        core->ImportLocalFiles({m_dir / "pick"});
        core->ImportFileWithProgress(photos[static_cast<size_t>(i)], "localhost", "");
    }
    auto started = Clock::now();
    core->Stop();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(core->Library(), nullptr);
    // Whatever was stored before the stop is in the indexes of the reopened library.
    CHDBCenter library;
    library.SetServicePort(-1);
    ASSERT_EQ(library.OpenLibrary(m_dir / "docs" / "Vellumo"), 1);
    int count = 0;
    int64_t bytes = 0;
    library.GetStatistics(count, bytes, nullptr);
    PidList pids;
    library.GetTimePids("", pids);
    EXPECT_EQ(static_cast<int>(pids.size()), count);
}

TEST_F(CoreTest, AdoptingALibraryUsesItAsItIsAndLeavesTheOldRootIntact) {
    // A library from an earlier install at "carried", with its own photo and password.
    ASSERT_TRUE(WriteSettingsRoot(m_options.pointerFile, m_dir / "carried"));
    {
        auto earlier = StartCore();
        ImportAndWait(*earlier, MakePhotos(m_dir / "pick1", 1, 70), 1);
        ASSERT_TRUE(earlier->SetPairingPassword("carried-pw"));
    }
    ASSERT_TRUE(WriteSettingsRoot(m_options.pointerFile, m_dir / "current"));
    auto core = StartCore();
    ImportAndWait(*core, MakePhotos(m_dir / "pick2", 2, 80), 2);
    ASSERT_TRUE(core->SetPairingPassword("current-pw"));
    const size_t carriedFiles = CountFiles(m_dir / "carried" / "Repos");
    ASSERT_EQ(carriedFiles, 1u);

    // A plain move refuses the target, but says that it could be adopted.
    std::string reason;
    EXPECT_EQ(core->MoveRoot(m_dir / "carried", &reason), CVellumoCore::RootChange::HoldsLibrary);
    EXPECT_FALSE(reason.empty());
    EXPECT_TRUE(CVellumoCore::RootHoldsLibrary(m_dir / "carried"));
    EXPECT_FALSE(CVellumoCore::RootHoldsLibrary(m_dir / "pick1"));
    EXPECT_EQ(core->GetRootPath(), m_dir / "current");

    // What cannot be adopted is refused with nothing changed.
    fs::create_directories(m_dir / "empty");
    EXPECT_EQ(core->AdoptRoot(m_dir / "empty", &reason), CVellumoCore::RootChange::Refused);
    EXPECT_NE(reason.find("no library"), std::string::npos) << reason;
    EXPECT_EQ(core->AdoptRoot(m_dir / "missing"), CVellumoCore::RootChange::Refused);
    EXPECT_FALSE(fs::exists(m_dir / "missing"));
    EXPECT_EQ(core->AdoptRoot(m_dir / "current" / "Repos"), CVellumoCore::RootChange::Refused);
    EXPECT_EQ(core->AdoptRoot(m_dir.Path()), CVellumoCore::RootChange::Refused);
    ASSERT_TRUE(WriteTestFile(m_dir / "file", "x"));
    EXPECT_EQ(core->AdoptRoot(m_dir / "file"), CVellumoCore::RootChange::Refused);
    EXPECT_EQ(core->GetRootPath(), m_dir / "current");
    EXPECT_EQ(ReadSettingsRoot(m_options.pointerFile), m_dir / "current");
    EXPECT_EQ(ImageCount(*core), 2);

    ASSERT_EQ(core->AdoptRoot(m_dir / "carried", &reason), CVellumoCore::RootChange::Done)
        << reason;
    EXPECT_EQ(core->GetRootPath(), m_dir / "carried");
    EXPECT_EQ(core->GetReposPath(), m_dir / "carried" / "Repos");
    EXPECT_EQ(ReadSettingsRoot(m_options.pointerFile), m_dir / "carried");
    EXPECT_EQ(ImageCount(*core), 1);
    EXPECT_EQ(core->GetPairingPassword(), "carried-pw");
    // Both libraries keep every file.
    EXPECT_EQ(CountFiles(m_dir / "carried" / "Repos"), carriedFiles);
    EXPECT_TRUE(fs::is_regular_file(m_dir / "current" / "Vellumo.cfg"));
    EXPECT_EQ(CountFiles(m_dir / "current" / "Repos"), 2u);

    // A phone paired with the adopted library's password is served its photo.
    int port = core->WaitServicePort(5000);
    ASSERT_GT(port, 0);
    EXPECT_EQ(HttpRequest("127.0.0.2", port, "GET",
                          "/auth?key=adopt-phone&passwd=current-pw&type=1&modal=P")
                      .status == 200,
              false);
    ASSERT_EQ(HttpRequest("127.0.0.2", port, "GET",
                          "/auth?key=adopt-phone&passwd=carried-pw&type=1&modal=P")
                  .status,
              200);
    Pid pid = LocalPids(*core).at(0);
    HttpReply image =
        HttpRequest("127.0.0.2", port, "GET", "/image/" + std::to_string(pid) + "?key=adopt-phone");
    EXPECT_EQ(image.status, 200);
    EXPECT_EQ(image.body, ReadTestFile(core->Library()->GetImagePath(pid)));
    EXPECT_TRUE(core->Watcher()->IsRunning());

    // The old library can be adopted back: it was left as it was.
    ASSERT_EQ(core->AdoptRoot(m_dir / "current"), CVellumoCore::RootChange::Done);
    EXPECT_EQ(ImageCount(*core), 2);
    EXPECT_EQ(core->GetPairingPassword(), "current-pw");
}

TEST_F(CoreTest, AnAdoptedLibraryThatCannotBeOpenedLeavesTheCurrentOneInUse) {
    ASSERT_TRUE(WriteSettingsRoot(m_options.pointerFile, m_dir / "current"));
    auto core = StartCore();
    ImportAndWait(*core, MakePhotos(m_dir / "pick", 1), 1);
    ASSERT_TRUE(WriteTestFile(m_dir / "broken" / "Vellumo.cfg", "not a database, but a letter"));
    std::string reason;
    EXPECT_EQ(core->AdoptRoot(m_dir / "broken", &reason), CVellumoCore::RootChange::Failed);
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(ReadTestFile(m_dir / "broken" / "Vellumo.cfg"), "not a database, but a letter");
    EXPECT_EQ(core->GetRootPath(), m_dir / "current");
    EXPECT_EQ(ReadSettingsRoot(m_options.pointerFile), m_dir / "current");
    EXPECT_TRUE(core->Library()->IsOpen());
    EXPECT_EQ(ImageCount(*core), 1);
}
