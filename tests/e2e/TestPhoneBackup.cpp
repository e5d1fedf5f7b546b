#include "media/Base64.h"
#include "media/JsonText.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestImages.h"
#include "tests/support/TestProcess.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <functional>
#include <set>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kReady = "Stop with Ctrl+C or SIGTERM.";
// Another machine on the network, as far as the server's gate can tell.
constexpr const char* kPhone = "127.0.0.2";
constexpr const char* kKey = "phone-key-1";

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

Json::Value JsonOf(const HttpReply& reply) {
    Json::Value value;
    JsonParse(reply.body, value);
    return value;
}

// The phone's photo token: Base64 of four fields, the third the photo time.
std::string Token(const std::string& id, int64_t time) {
    return Base64Encode(id + "|x|" + std::to_string(time) + "|y");
}

class PhoneBackup : public ::testing::Test {
protected:
    void SetUp() override {
        m_vellumo = std::make_unique<VellumoProcess>(VellumoBinaryPath(), m_dir.Path());
        ASSERT_TRUE(m_vellumo->Start({"--headless"}));
        ASSERT_TRUE(m_vellumo->WaitForOutput(kReady)) << m_vellumo->ErrorOutput();
        HttpReply echo = Get("/echo");
        if (!echo.received || echo.status != 200) {
            GTEST_SKIP() << "the phone endpoints are not part of this build";
        }
    }
    void TearDown() override {
        if (m_vellumo && m_vellumo->IsRunning()) {
            EXPECT_EQ(m_vellumo->Stop(SIGTERM), 0) << m_vellumo->ErrorOutput();
        }
    }

    HttpReply Get(const std::string& target, const std::string& body = {}) {
        return HttpRequest(kPhone, m_vellumo->Port(), body.empty() ? "GET" : "POST", target, body);
    }
    std::string Keyed(const std::string& path) { return path + "?key=" + kKey; }

    Json::Value Verify(const std::vector<std::string>& tokens) {
        Json::Value list(Json::arrayValue);
        for (const std::string& token : tokens) {
            list.append(token);
        }
        return JsonOf(Get(Keyed("/verify"), JsonCompact(list)));
    }

    TempDir m_dir{"vellumo-e2e"};
    std::unique_ptr<VellumoProcess> m_vellumo;
};

} // namespace

TEST_F(PhoneBackup, PairUploadBrowseDeleteRestart) {
    std::string password = m_vellumo->OutputValue("pairing password");
    int port = m_vellumo->Port();

    // Nothing but discovery and pairing before pairing.
    EXPECT_EQ(Get(Keyed("/devices")).status, 403);
    EXPECT_EQ(
        JsonOf(Get("/auth?key=" + std::string(kKey) + "&passwd=wrong&type=1&modal=P"))["status"]
            .asString(),
        "failed");
    HttpReply auth =
        Get("/auth?key=" + std::string(kKey) + "&passwd=" + password + "&type=1&modal=Pixel");
    ASSERT_EQ(auth.status, 200) << auth.body;
    EXPECT_EQ(JsonOf(auth)["status"].asString(), "ok");
    EXPECT_EQ(JsonOf(auth)["newAuthDevice"].asInt64(), 1);

    // Two photos of 2013-05-01 (UTC), uploaded the way the phone does.
    std::vector<std::string> photos;
    std::vector<std::string> tokens = {Token("p1", 1367397000), Token("p2", 1367398000)};
    for (uint32_t seed : {11u, 12u}) {
        TestJpegOptions options;
        options.seed = seed;
        options.width = 320;
        options.height = 240;
        options.withExif = true;
        options.exif.dateTime = "2013:05:01 08:30:00";
        options.exif.make = "Phone";
        options.exif.model = "P1";
        photos.push_back(MakeTestJpeg(options));
    }
    EXPECT_EQ(Get(Keyed("/verify"), "[\"" + tokens[0] + "\"]").body, "[]\n");
    for (size_t i = 0; i < photos.size(); ++i) {
        HttpReply upload = Get(Keyed("/import") + "&name=IMG_000" + std::to_string(i + 1) +
                                   ".JPG&vmd5=" + tokens[i] + "&cur=" + std::to_string(i + 1) +
                                   "&total=2&speed=100&time=3",
                               photos[i]);
        ASSERT_EQ(upload.status, 200);
        EXPECT_EQ(JsonOf(upload)["status"].asString(), "ok");
    }
    Json::Value known;
    ASSERT_TRUE(WaitFor(
        [&] {
            known = Verify(tokens);
            return known.isObject() && known.size() == 2;
        },
        15000))
        << JsonStyled(known);
    int64_t pid1 = known[tokens[0]].asInt64();
    int64_t pid2 = known[tokens[1]].asInt64();
    ASSERT_NE(pid1, pid2);

    // Browse: devices, time line, thumbnails, full images, EXIF.
    Json::Value devices = JsonOf(Get(Keyed("/devices")));
    EXPECT_EQ(devices[kKey]["imgs"].size(), 2u) << JsonStyled(devices);
    EXPECT_EQ(JsonOf(Get(Keyed("/time")))[0].asString(), "2013");
    Json::Value day = JsonOf(Get(Keyed("/time/2013/05/01")));
    ASSERT_EQ(day.size(), 2u) << JsonStyled(day);
    HttpReply thumb = Get(Keyed("/thumb/" + std::to_string(pid1)) + "&w=100&h=100");
    EXPECT_EQ(thumb.headers["content-type"], "image/jpeg");
    ASSERT_GE(thumb.body.size(), 2u);
    EXPECT_EQ(thumb.body.substr(0, 2), "\xFF\xD8");
    HttpReply image = Get(Keyed("/image/" + std::to_string(pid2)));
    EXPECT_EQ(image.body, photos[1]);
    EXPECT_EQ(image.headers["filename"], "IMG_0002.JPG");
    Json::Value exif = JsonOf(Get(Keyed("/exif/" + std::to_string(pid1))));
    EXPECT_TRUE(exif.isObject()) << JsonStyled(exif);

    // A photo deleted from the repository folder leaves the time line within a second.
    fs::path repos = m_vellumo->DefaultRoot() / "Repos";
    fs::path stored;
    for (const auto& entry : fs::recursive_directory_iterator(repos)) {
        if (entry.path().filename() == "IMG_0001.JPG") {
            stored = entry.path();
        }
    }
    ASSERT_FALSE(stored.empty());
    auto deleted = Clock::now();
    fs::remove(stored);
    ASSERT_TRUE(WaitFor(
        [&] {
            Json::Value pids = JsonOf(Get(Keyed("/time/2013/05/01")));
            return pids.size() == 1 && pids[0].asInt64() == pid2;
        },
        1000));
    EXPECT_LT(Clock::now() - deleted, std::chrono::milliseconds(1000));

    // Stop and start again: everything is as it was.
    ASSERT_EQ(m_vellumo->Stop(SIGTERM), 0) << m_vellumo->ErrorOutput();
    ASSERT_TRUE(m_vellumo->Start({"--headless"}));
    ASSERT_TRUE(m_vellumo->WaitForOutput(kReady)) << m_vellumo->ErrorOutput();
    EXPECT_EQ(m_vellumo->Port(), port);
    EXPECT_EQ(m_vellumo->OutputValue("pairing password"), password);
    Json::Value after = JsonOf(Get(Keyed("/time/2013/05/01")));
    ASSERT_EQ(after.size(), 1u) << JsonStyled(after);
    EXPECT_EQ(after[0].asInt64(), pid2);
    EXPECT_EQ(Get(Keyed("/image/" + std::to_string(pid2))).body, photos[1]);
    known = Verify(tokens);
    EXPECT_FALSE(known.isMember(tokens[0]));
    EXPECT_EQ(known[tokens[1]].asInt64(), pid2);
    EXPECT_EQ(JsonOf(Get(Keyed("/devices")))[kKey]["imgs"].size(), 1u);
}
