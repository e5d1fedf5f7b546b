// What the phone is told "ok" for is stored, whatever happens to the PC: the real program is
// killed during uploads, runs on a full disk, meets unwritable folders, crash leftovers, another
// user's staging folder, damaged library files and folders deleted behind its back.

#include "media/Base64.h"
#include "media/JsonText.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestImages.h"
#include "tests/support/TestProcess.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kReady = "Stop with Ctrl+C or SIGTERM.";
constexpr const char* kPhone = "127.0.0.2";

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

std::string Token(const std::string& id) {
    return Base64Encode(id + "|x|1367397000|y");
}

std::string Photo(uint32_t seed, int side = 96) {
    TestJpegOptions options;
    options.seed = seed;
    options.width = side;
    options.height = side * 3 / 4;
    options.noise = true;
    return MakeTestJpeg(options);
}

std::string StatusOf(const HttpReply& reply) {
    Json::Value value;
    if (!reply.received || !JsonParse(reply.body, value) || !value.isObject()) {
        return {};
    }
    return JsonMember(value, "status").isString() ? value["status"].asString() : std::string();
}

// Regular files below a folder, by path relative to it.
std::map<std::string, std::string> FilesBelow(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file()) {
            files[it->path().lexically_relative(folder).string()] = ReadTestFile(it->path());
        }
    }
    return files;
}

class Durability : public ::testing::Test {
protected:
    void SetUp() override {
        m_vellumo = std::make_unique<VellumoProcess>(VellumoBinaryPath(), m_dir.Path());
    }
    void TearDown() override {
        if (m_vellumo && m_vellumo->IsRunning()) {
            m_vellumo->Stop(SIGKILL);
        }
    }

    bool StartService() {
        if (!m_vellumo->Start({"--headless"}) || !m_vellumo->WaitForOutput(kReady)) {
            ADD_FAILURE() << m_vellumo->Output() << m_vellumo->ErrorOutput();
            return false;
        }
        return true;
    }
    void Pair() {
        std::string password = m_vellumo->OutputValue("pairing password");
        HttpReply auth =
            Request("/auth?key=" + m_key + "&passwd=" + password + "&type=1&modal=Pixel");
        ASSERT_EQ(StatusOf(auth), "ok") << auth.body;
    }
    HttpReply Request(const std::string& target, const std::string& body = {},
                      int timeoutMs = 70000) {
        return HttpRequest(kPhone, m_vellumo->Port(), body.empty() ? "GET" : "POST", target, body,
                           timeoutMs);
    }
    HttpReply Upload(const std::string& name, const std::string& token, const std::string& photo,
                     int timeoutMs = 70000) {
        return Request("/import?key=" + m_key + "&name=" + name + "&vmd5=" + token +
                           "&cur=1&total=9&speed=1&time=1",
                       photo, timeoutMs);
    }
    // The pid the library holds for the token, 0 when none.
    int64_t Known(const std::string& token) {
        Json::Value list(Json::arrayValue);
        list.append(token);
        Json::Value known;
        JsonParse(Request("/verify?key=" + m_key, JsonCompact(list)).body, known);
        return known.isObject() && known[token].isInt64() ? known[token].asInt64() : 0;
    }
    std::string Image(int64_t pid) {
        return Request("/image/" + std::to_string(pid) + "?key=" + m_key).body;
    }
    fs::path Root() const { return m_vellumo->DefaultRoot(); }
    fs::path Staging() const { return Root() / ".incoming"; }

    TempDir m_dir{"vellumo-durable"};
    std::unique_ptr<VellumoProcess> m_vellumo;
    std::string m_key = "phone-key-1";
};

} // namespace

TEST_F(Durability, KilledDuringParallelUploadsEveryAcknowledgedPhotoIsStored) {
    ASSERT_TRUE(StartService());
    Pair();
    std::mutex lock;
    std::map<std::string, std::string> acknowledged; // token -> photo
    uint32_t nextSeed = 100;
    for (int round = 0; round < 3; ++round) {
        if (round > 0) {
            ASSERT_TRUE(StartService());
        }
        std::atomic<bool> killed{false};
        std::atomic<int> okThisRound{0};
        std::vector<std::thread> phones;
        for (int phone = 0; phone < 3; ++phone) {
            uint32_t first = nextSeed;
            nextSeed += 100;
            phones.emplace_back([&, first] {
                for (uint32_t seed = first; seed < first + 100 && !killed; ++seed) {
                    std::string photo = Photo(seed, 160);
                    std::string token = Token("p" + std::to_string(seed));
                    HttpReply reply =
                        Upload("IMG_" + std::to_string(seed) + ".JPG", token, photo, 20000);
                    if (StatusOf(reply) == "ok") {
                        std::lock_guard<std::mutex> guard(lock);
                        acknowledged[token] = photo;
                        ++okThisRound;
                    }
                }
            });
        }
        // Killed in the middle of the run, with uploads on every connection.
        WaitFor([&] { return okThisRound >= 4 + 3 * round; }, 30000);
        EXPECT_EQ(m_vellumo->Stop(SIGKILL), 128 + SIGKILL);
        killed = true;
        for (std::thread& phone : phones) {
            phone.join();
        }
    }
    ASSERT_TRUE(StartService());
    ASSERT_GE(acknowledged.size(), 10u);
    for (const auto& [token, photo] : acknowledged) {
        int64_t pid = Known(token);
        ASSERT_NE(pid, 0) << "acknowledged but not in the library";
        EXPECT_TRUE(Image(pid) == photo) << "pid " << pid << " differs from what was sent";
    }
    // The staging folder holds nothing a crash could lose: complete leftovers were imported.
    ASSERT_TRUE(WaitFor([&] { return FilesBelow(Staging()).empty(); }, 20000))
        << FilesBelow(Staging()).size();
}

TEST_F(Durability, AFullDiskAnswersFailedAndStoresNothingHalf) {
    // The storage root on a small file system of its own.
    fs::create_directories(Root());
    bool mounted = mount("tmpfs", Root().c_str(), "tmpfs", 0, "size=1200k,mode=0700") == 0;
    if (!mounted) {
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    }
    struct Unmount {
        fs::path path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{Root()};
    ASSERT_TRUE(StartService());
    Pair();
    std::map<std::string, std::string> acknowledged;
    int failed = 0;
    for (uint32_t seed = 1; seed <= 40 && failed < 3; ++seed) {
        std::string photo = Photo(seed, 256);
        std::string token = Token("full" + std::to_string(seed));
        std::string status = StatusOf(Upload("F" + std::to_string(seed) + ".jpg", token, photo));
        if (status == "ok") {
            acknowledged[token] = photo;
        } else {
            EXPECT_EQ(status, "failed");
            ++failed;
        }
    }
    EXPECT_GE(failed, 1) << "the disk never filled";
    EXPECT_GE(acknowledged.size(), 1u);
    for (const auto& [token, photo] : acknowledged) {
        int64_t pid = Known(token);
        ASSERT_NE(pid, 0);
        EXPECT_TRUE(Image(pid) == photo);
    }
    // No half photo anywhere: every file in the repository is one that was acknowledged.
    std::set<std::string> sent;
    for (const auto& [token, photo] : acknowledged) {
        sent.insert(photo);
    }
    for (const auto& [path, bytes] : FilesBelow(Root() / "Repos")) {
        EXPECT_EQ(sent.count(bytes), 1u) << path;
    }
    EXPECT_TRUE(FilesBelow(Staging()).empty());
    EXPECT_EQ(m_vellumo->Stop(SIGTERM), 0) << m_vellumo->ErrorOutput();
}

TEST_F(Durability, AnUnwritableDeviceFolderAndNonPicturesAreAnsweredFailed) {
    ASSERT_TRUE(StartService());
    Pair();
    // The device's folder cannot take files: immutable (root ignores modes) or, failing that,
    // a file in its place.
    fs::path device = Root() / "Repos" / "Pixel";
    fs::create_directories(device);
    bool immutable = geteuid() == 0 &&
                     std::system(("chattr +i '" + device.string() + "' 2>/dev/null").c_str()) == 0;
    if (!immutable && geteuid() != 0) {
        chmod(device.c_str(), 0500);
        immutable = true;
    }
    if (!immutable) {
        fs::remove(device);
        ASSERT_TRUE(WriteTestFile(device, "not a folder"));
    }
    std::string photo = Photo(7);
    EXPECT_EQ(StatusOf(Upload("a.jpg", Token("u1"), photo)), "failed");
    EXPECT_EQ(Known(Token("u1")), 0);
    if (immutable && geteuid() == 0) {
        std::system(("chattr -i '" + device.string() + "'").c_str());
    } else if (immutable) {
        chmod(device.c_str(), 0700);
    } else {
        fs::remove(device);
    }
    EXPECT_TRUE(FilesBelow(Staging()).empty());
    // Writable again: the phone's retry is stored.
    EXPECT_EQ(StatusOf(Upload("a.jpg", Token("u1"), photo)), "ok");
    EXPECT_EQ(Image(Known(Token("u1"))), photo);

    // Files that are no picture at all.
    EXPECT_EQ(StatusOf(Upload("notes.jpg", Token("n1"), "just some text, no picture")), "failed");
    EXPECT_EQ(StatusOf(Upload("zeros.jpg", Token("n2"), std::string(5000, '\0'))), "failed");
    EXPECT_EQ(Known(Token("n1")), 0);
    EXPECT_EQ(FilesBelow(Root() / "Repos").size(), 1u);
    EXPECT_TRUE(FilesBelow(Staging()).empty());
}

TEST_F(Durability, CrashLeftoversAreImportedAtStartOnlyIncompleteBodiesRemoved) {
    ASSERT_TRUE(StartService());
    Pair();
    ASSERT_EQ(m_vellumo->Stop(SIGTERM), 0);
    // What a crash leaves: one photo received whole (with its record), one cut off.
    const std::string whole = Photo(21);
    ASSERT_TRUE(WriteTestFile(Staging() / "00000000000000a1" / "whole.jpg", whole));
    Json::Value record(Json::objectValue);
    record["key"] = m_key;
    record["token"] = Token("left1");
    record["name"] = "whole.jpg";
    record["size"] = Json::Int64(whole.size());
    record["sealed"] = Json::Int64(1);
    ASSERT_TRUE(WriteTestFile(Staging() / "00000000000000a1.json", JsonCompact(record)));
    ASSERT_TRUE(
        WriteTestFile(Staging() / "00000000000000a2" / "half.jpg", Photo(22).substr(0, 300)));
    chmod(Staging().c_str(), 0700);

    ASSERT_TRUE(StartService());
    ASSERT_TRUE(WaitFor([&] { return Known(Token("left1")) != 0; }, 20000));
    EXPECT_EQ(Image(Known(Token("left1"))), whole);
    EXPECT_EQ(ReadTestFile(Root() / "Repos" / "Pixel" / "whole.jpg"), whole);
    ASSERT_TRUE(WaitFor([&] { return FilesBelow(Staging()).empty(); }, 10000));
    EXPECT_FALSE(fs::exists(Staging() / "00000000000000a2"));
}

TEST_F(Durability, AnotherUsersStagingFolderIsNeverTouched) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs to hand a folder to another user (run as root)";
    }
    ASSERT_TRUE(StartService());
    Pair();
    ASSERT_EQ(m_vellumo->Stop(SIGTERM), 0);
    // Another user's service holds the staging folder, with an upload of theirs in it.
    ASSERT_TRUE(WriteTestFile(Staging() / "00000000000000b1" / "theirs.jpg", "theirs"));
    for (const fs::path& path : {Staging(), Staging() / "00000000000000b1",
                                 Staging() / "00000000000000b1" / "theirs.jpg"}) {
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }
    chmod(Staging().c_str(), 0755);
    ASSERT_TRUE(StartService());
    EXPECT_EQ(StatusOf(Upload("mine.jpg", Token("m1"), Photo(31))), "failed");
    EXPECT_EQ(ReadTestFile(Staging() / "00000000000000b1" / "theirs.jpg"), "theirs");
    struct stat info {};
    ASSERT_EQ(stat(Staging().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    EXPECT_EQ(FilesBelow(Staging()).size(), 1u);
    EXPECT_TRUE(FilesBelow(Root() / "Repos").empty());
}

TEST_F(Durability, AnUnusableLibraryFileIsRefusedAndLeftByteForByte) {
    ASSERT_TRUE(StartService());
    Pair();
    ASSERT_EQ(StatusOf(Upload("a.jpg", Token("c1"), Photo(41))), "ok");
    ASSERT_EQ(m_vellumo->Stop(SIGTERM), 0);
    const fs::path file = Root() / "Vellumo.cfg";
    fs::remove(Root() / "Vellumo.cfg-wal");
    fs::remove(Root() / "Vellumo.cfg-shm");
    const std::string library = ReadTestFile(file);
    ASSERT_GT(library.size(), 8192u);
    // The headers of the second and third pages (tables of the library) overwritten.
    std::string damagedPage = library;
    for (size_t page : {size_t{4096}, size_t{8192}}) {
        for (size_t i = page; i < page + 12; ++i) {
            damagedPage[i] = static_cast<char>(0xA5);
        }
    }
    const std::vector<std::pair<std::string, std::string>> variants = {
        {"not a database", std::string(6000, 'x')},
        {"cut short", library.substr(0, library.size() / 2 + 100)},
        {"damaged header", std::string(100, '\0') + library.substr(100)},
        {"damaged page", damagedPage},
    };
    for (const auto& [what, bytes] : variants) {
        ASSERT_TRUE(WriteTestFile(file, bytes));
        int status = m_vellumo->RunToEnd({"--headless"}, 30000);
        EXPECT_NE(status, 0) << what;
        EXPECT_NE(m_vellumo->ErrorOutput().find("Vellumo.cfg"), std::string::npos)
            << what << ": " << m_vellumo->ErrorOutput();
        EXPECT_TRUE(ReadTestFile(file) == bytes) << what << ": the file was changed";
        EXPECT_EQ(m_vellumo->Output().find("pairing password"), std::string::npos) << what;
    }
    // The original comes back: everything is as it was.
    ASSERT_TRUE(WriteTestFile(file, library));
    fs::remove(Root() / "Vellumo.cfg-wal");
    fs::remove(Root() / "Vellumo.cfg-shm");
    ASSERT_TRUE(StartService());
    EXPECT_NE(Known(Token("c1")), 0);
}

TEST_F(Durability, DeletedDeviceAndRepositoryFoldersLeaveVerify) {
    ASSERT_TRUE(StartService());
    Pair();
    ASSERT_EQ(StatusOf(Upload("a.jpg", Token("d1"), Photo(51))), "ok");
    ASSERT_EQ(StatusOf(Upload("b.jpg", Token("d2"), Photo(52))), "ok");
    ASSERT_EQ(m_vellumo->Stop(SIGTERM), 0);
    // The device folder is deleted while Vellumo is stopped (the repository is empty then).
    fs::remove_all(Root() / "Repos" / "Pixel");
    ASSERT_TRUE(StartService());
    ASSERT_TRUE(WaitFor([&] { return Known(Token("d1")) == 0 && Known(Token("d2")) == 0; }, 10000));
    // Stored again, then the whole repository folder goes while Vellumo runs.
    ASSERT_EQ(StatusOf(Upload("a.jpg", Token("d1"), Photo(51))), "ok");
    ASSERT_NE(Known(Token("d1")), 0);
    fs::remove_all(Root() / "Repos");
    ASSERT_TRUE(WaitFor([&] { return Known(Token("d1")) == 0; }, 10000));
    EXPECT_EQ(m_vellumo->Stop(SIGTERM), 0) << m_vellumo->ErrorOutput();
}
