// Attacks on the running program: web pages and other accounts reaching for the loopback pass,
// password guessing from many addresses, slow clients, decompression bombs. A paired phone
// keeps being served throughout.

#include "media/Base64.h"
#include "media/ImageHeader.h"
#include "media/JsonText.h"
#include "tests/support/TestConnection.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestImages.h"
#include "tests/support/TestProcess.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kReady = "Stop with Ctrl+C or SIGTERM.";
constexpr const char* kPhone = "127.0.0.2";
constexpr const char* kKey = "phone-key-1";

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

long StatusKiB(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::atol(line.c_str() + field.size() + 1);
        }
    }
    return -1;
}

// The status code of one raw request from 127.0.0.1, 0 when closed without an answer.
int StatusOf(int port, const std::string& request) {
    std::string answer = Exchange(port, request, nullptr, 10s);
    if (answer.rfind("HTTP/1.1 ", 0) != 0) {
        return 0;
    }
    return std::atoi(answer.c_str() + 9);
}

// The same request made by a process running as another user ("nobody"); -1 when the test
// cannot switch user.
int StatusAsOtherUser(int port, const std::string& request) {
    if (::geteuid() != 0) {
        return -1;
    }
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return -1;
    }
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        int status = -1;
        if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
            ::setresuid(65534, 65534, 65534) == 0) {
            status = StatusOf(port, request);
        }
        ssize_t ignored = ::write(pipeFds[1], &status, sizeof status);
        (void)ignored;
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    int status = -1;
    if (child < 0 || ::read(pipeFds[0], &status, sizeof status) != sizeof status) {
        status = -1;
    }
    ::close(pipeFds[0]);
    if (child > 0) {
        ::waitpid(child, nullptr, 0);
    }
    return status;
}

std::string Token(const std::string& id, int64_t time) {
    return Base64Encode(id + "|x|" + std::to_string(time) + "|y");
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        m_vellumo = std::make_unique<VellumoProcess>(VellumoBinaryPath(), m_dir.Path());
        ASSERT_TRUE(m_vellumo->Start({"--headless"}));
        ASSERT_TRUE(m_vellumo->WaitForOutput(kReady)) << m_vellumo->ErrorOutput();
        m_password = m_vellumo->OutputValue("pairing password");
        // The service may still be opening its port when the ready line is printed.
        ASSERT_TRUE(WaitFor([&] { return Get("/echo").status == 200; }, 10s));
        HttpReply auth =
            Get("/auth?key=" + std::string(kKey) + "&passwd=" + m_password + "&type=1&modal=Phone");
        ASSERT_EQ(auth.status, 200) << auth.body;
    }
    void TearDown() override {
        if (m_vellumo && m_vellumo->IsRunning()) {
            EXPECT_EQ(m_vellumo->Stop(SIGTERM), 0) << m_vellumo->ErrorOutput();
        }
    }

    int Port() const { return m_vellumo->Port(); }
    HttpReply Get(const std::string& target, const std::string& body = {}) {
        return HttpRequest(kPhone, Port(), body.empty() ? "GET" : "POST", target, body);
    }
    std::string Keyed(const std::string& path) { return path + "?key=" + kKey; }

    // Uploads a photo as the paired phone and waits until the library knows it; its pid.
    int64_t Upload(const std::string& name, const std::string& bytes, const std::string& id) {
        const std::string token = Token(id, 1367397000);
        HttpReply upload = Get(Keyed("/import") + "&name=" + name + "&vmd5=" + token +
                                   "&cur=1&total=1&speed=100&time=3",
                               bytes);
        if (upload.status != 200) {
            return 0;
        }
        int64_t pid = 0;
        WaitFor(
            [&] {
                Json::Value known;
                JsonParse(Get(Keyed("/verify"), "[\"" + token + "\"]").body, known);
                pid = known.isObject() ? known[token].asInt64() : 0;
                return pid != 0;
            },
            15s);
        return pid;
    }

    // The paired phone's requests while an attack runs: how many were answered with 200.
    int PhoneServed(int requests) {
        int served = 0;
        for (int i = 0; i < requests; ++i) {
            served += Get(Keyed("/devices")).status == 200 ? 1 : 0;
        }
        return served;
    }

    TempDir m_dir{"vellumo-hostile"};
    std::unique_ptr<VellumoProcess> m_vellumo;
    std::string m_password;
};

} // namespace

TEST_F(Hostile, WebPagesAndOtherAccountsGetNoLoopbackPass) {
    const std::string port = std::to_string(Port());
    auto get = [&](const std::string& headers) {
        return StatusOf(Port(), "GET /devices HTTP/1.1\r\n" + headers + "\r\n");
    };
    // This user's own programs and pages.
    EXPECT_EQ(get("Host: 127.0.0.1:" + port + "\r\n"), 200);
    EXPECT_EQ(get("Host: localhost:" + port + "\r\nOrigin: http://localhost:" + port +
                  "\r\nSec-Fetch-Site: same-origin\r\n"),
              200);
    // A page whose name was rebound to 127.0.0.1, image loads of other sites, other origins.
    EXPECT_EQ(get("Host: rebind.test:" + port + "\r\nSec-Fetch-Site: same-origin\r\n"), 403);
    EXPECT_EQ(get("Host: 127.0.0.1:" + port + "\r\nSec-Fetch-Site: cross-site\r\n"), 403);
    EXPECT_EQ(get("Host: localhost:" + port + "\r\nSec-Fetch-Site: same-site\r\n"), 403);
    EXPECT_EQ(get("Host: 127.0.0.1:" + port + "\r\nOrigin: http://evil.test\r\n"), 403);
    EXPECT_EQ(get("Host: 127.0.0.1:" + port + "\r\nOrigin: http://localhost:8080\r\n"), 403);
    // Another account on this PC: nothing without a key, uploads refused at their head.
    int other = StatusAsOtherUser(Port(), "GET /devices HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    if (other == -1) {
        GTEST_SKIP() << "cannot run a request as another user here (not root); the socket owner "
                        "check is covered by an injected lookup in test_net";
    }
    EXPECT_EQ(other, 403);
    EXPECT_EQ(StatusAsOtherUser(Port(), "POST /import?name=x.jpg HTTP/1.1\r\nHost: "
                                        "127.0.0.1\r\nContent-Length: 268435456\r\n\r\nabc"),
              403);
    EXPECT_EQ(StatusAsOtherUser(Port(), "GET /devices?key=" + std::string(kKey) +
                                            " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"),
              200);
}

TEST_F(Hostile, GuessingFromManyAddressesLocksPairingAndIsLogged) {
    std::string wrong = m_password == "00000000" ? "11111111" : "00000000";
    int refusedAtOnce = 0;
    for (int i = 0; i < 40; ++i) {
        const std::string from = "127.0.1." + std::to_string(10 + i);
        HttpReply reply = HttpRequest(
            from, Port(), "GET", "/auth?key=guess" + std::to_string(i) + "&type=1&passwd=" + wrong);
        refusedAtOnce += reply.status == 403 ? 1 : 0;
    }
    EXPECT_EQ(refusedAtOnce, 40);
    // The budget is used up: even the right password, from a new address, waits.
    HttpReply late =
        HttpRequest("127.0.1.99", Port(), "GET", "/auth?key=late&type=1&passwd=" + m_password);
    EXPECT_EQ(late.status, 403);
    EXPECT_EQ(Get(std::string("/devices?key=late")).status, 403);
    // The paired phone is not affected.
    EXPECT_EQ(PhoneServed(3), 3);
    ASSERT_TRUE(WaitFor(
        [&] { return m_vellumo->ErrorOutput().find("locked for everyone") != std::string::npos; },
        5s));
    const std::string log = m_vellumo->ErrorOutput();
    EXPECT_NE(log.find("Pairing: wrong pairing password from 127.0.1.10 "), std::string::npos)
        << log;
    EXPECT_NE(log.find("pairing locked for everyone, too many wrong passwords from 127.0.1.99"),
              std::string::npos)
        << log;
}

// Slowloris from an unpaired host, and bodies announced huge and dripped by a paired key:
// the phone's requests and uploads still go through.
TEST_F(Hostile, SlowClientsDoNotStarveThePhone) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 8192);
    setrlimit(RLIMIT_NOFILE, &limit);
    const int attackers = limit.rlim_cur >= 4500 ? 2100 : static_cast<int>(limit.rlim_cur) / 2;
    std::vector<std::unique_ptr<TestConnection>> slow;
    for (int i = 0; i < attackers; ++i) {
        slow.push_back(std::make_unique<TestConnection>(Port(), "127.0.0.3"));
        slow.back()->Send("G");
    }
    std::vector<std::unique_ptr<TestConnection>> drips;
    for (int i = 0; i < 4; ++i) {
        drips.push_back(std::make_unique<TestConnection>(Port(), kPhone));
        drips.back()->Send("POST /import?key=" + std::string(kKey) +
                           "&name=d.jpg HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: "
                           "268435456\r\n\r\nx");
    }
    int served = 0;
    for (int round = 0; round < 3; ++round) {
        served += PhoneServed(8);
        for (auto& c : slow) {
            c->Send("E");
        }
        for (auto& c : drips) {
            c->Send("y");
        }
    }
    EXPECT_EQ(served, 24);
    TestJpegOptions options;
    options.seed = 3;
    options.width = 1200;
    options.height = 900;
    EXPECT_NE(Upload("IMG_0001.JPG", MakeTestJpeg(options), "slow"), 0);
}

TEST_F(Hostile, ThumbnailBombsInParallelStayWithinMemory) {
    const std::string bomb = MakePngBomb(14000, 14000);
    ASSERT_FALSE(bomb.empty());
    const int64_t pid = Upload("BOMB.PNG", bomb, "bomb");
    ASSERT_NE(pid, 0);
    const long before = StatusKiB(m_vellumo->Pid(), "VmHWM");
    std::vector<std::thread> thumbs;
    std::atomic<int> answered{0};
    for (int i = 0; i < 8; ++i) {
        thumbs.emplace_back([&, i] {
            HttpReply reply = Get(Keyed("/thumb/" + std::to_string(pid)) +
                                  "&w=" + std::to_string(150 + i) + "&h=150");
            answered += reply.status == 200 ? 1 : 0;
        });
    }
    const int served = PhoneServed(8);
    for (std::thread& thumb : thumbs) {
        thumb.join();
    }
    EXPECT_EQ(answered.load(), 8);
    EXPECT_EQ(served, 8);
    // One decoded bomb alone would take 784 MB.
    const long after = StatusKiB(m_vellumo->Pid(), "VmHWM");
    EXPECT_LT(after - before, 200L * 1024) << before << " KiB before, " << after << " after";
    // The free side of a thin panorama is clamped.
    const std::string thin = [] {
        TestJpegOptions options;
        options.width = 6000;
        options.height = 16;
        return MakeTestJpeg(options);
    }();
    const int64_t panorama = Upload("PANO.JPG", thin, "pano");
    ASSERT_NE(panorama, 0);
    HttpReply free = Get(Keyed("/thumb/" + std::to_string(panorama)) + "&w=32767&h=16");
    int width = 0;
    int height = 0;
    ASSERT_TRUE(ReadImageSize(free.body, width, height)) << free.body.size();
    EXPECT_EQ(width, 4096);
}

// A real browser on this PC, visiting pages of other origins and a page whose name was rebound
// to 127.0.0.1: none of them reads the library or plants anything in it.
TEST_F(Hostile, ABrowserVisitingHostilePagesGivesThemNothing) {
    TestJpegOptions options;
    options.seed = 8;
    options.width = 640;
    options.height = 480;
    const int64_t pid = Upload("IMG_0008.JPG", MakeTestJpeg(options), "browser");
    ASSERT_NE(pid, 0);
    const std::string devices = Get(Keyed("/devices")).body;
    const std::string command = std::string("/usr/bin/python3 ") + VELLUMO_SOURCE_DIR +
                                "/tests/e2e/browser_attack.py " + std::to_string(Port()) + " " +
                                std::to_string(pid) + " 2>&1";
    FILE* script = ::popen(command.c_str(), "r");
    ASSERT_NE(script, nullptr);
    std::string output;
    char buffer[4096];
    while (size_t got = std::fread(buffer, 1, sizeof buffer, script)) {
        output.append(buffer, got);
    }
    const int status = ::pclose(script);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == 77) {
        GTEST_SKIP() << output;
    }
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("rebinding"), std::string::npos) << output;
    EXPECT_EQ(Get(Keyed("/devices")).body, devices);
}
