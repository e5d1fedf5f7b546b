// The update check with the real controller core against a scripted update server: what goes
// out, what each answer leads to, and how the updater or the browser is started.

#include "httpclient/CHttpAgent.h"
#include "media/CHMd5.h"
#include "media/JsonText.h"
#include "net/CHPairingEndpoints.h"
#include "pairing/MachineId.h"
#include "platform/Dialogs.h"
#include "platform/Version.h"
#include "shell/CVellumoCore.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestNginx.h"
#include "tests/support/TestProcess.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The pairing answer and the update check speak of the same version.
static_assert(std::string_view(CHPairingEndpoints::kVersion) == kVellumoVersion);

namespace {

using namespace std::chrono_literals;

// Writes what it was started with, as JSON, into record.json beside itself: its arguments, its
// open descriptors (probed without opening any), its session and process ids, and the update
// server it was told about.
constexpr const char* kStandIn = R"(#!/usr/bin/python3
import json, os, sys
fds = []
for fd in range(0, 4096):
    try:
        os.fstat(fd)
        fds.append(fd)
    except OSError:
        pass
record = {"argv": sys.argv, "fds": fds, "pid": os.getpid(), "sid": os.getsid(0),
          "server": os.environ.get("VELLUMO_UPDATE_SERVER", "")}
where = os.path.join(os.path.dirname(os.path.abspath(sys.argv[0])), "record.json")
with open(where + ".part", "w") as out:
    json.dump(record, out)
os.rename(where + ".part", where)
)";

struct Shown {
    std::string kind; // "message" or "question"
    std::string title;
    std::string text;
};

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_DOCUMENTS_DIR", (m_dir / "docs").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
        fs::create_directories(m_dir / "tmp");
        setenv("TMPDIR", (m_dir / "tmp").c_str(), 1);
        setenv("VELLUMO_UPDATE_SERVER", "off", 1);
        m_savedPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
        m_options.servicePort = CoreOptions::kNoService;
        m_options.startWatcher = false;
        m_options.pointerFile = m_dir / "config" / "Vellumo" / "Vellumo.cfg";
        m_options.programPath = m_dir / "bin" / "vellumo";
        ASSERT_TRUE(WriteTestFile(m_options.programPath, "program"));
        fs::create_directories(m_dir / "path");
        InstallDesktop(false);
    }
    void TearDown() override {
        SetDialogBackend({});
        SetHeadlessMode(false);
        setenv("PATH", m_savedPath.c_str(), 1);
        setenv("VELLUMO_UPDATE_SERVER", "off", 1);
        unsetenv("TMPDIR");
    }

    // A desktop whose questions are answered with ok; everything shown is recorded.
    void InstallDesktop(bool ok) {
        DialogBackend backend;
        backend.showMessage = [this](const std::string& title, const std::string& text) {
            std::lock_guard<std::mutex> lock(m_shownLock);
            m_shown.push_back({"message", title, text});
        };
        backend.askOkCancel = [this, ok](const std::string& title, const std::string& text) {
            std::lock_guard<std::mutex> lock(m_shownLock);
            m_shown.push_back({"question", title, text});
            return ok;
        };
        SetDialogBackend(backend);
        SetHeadlessMode(false);
    }
    std::vector<Shown> TakeShown() {
        std::lock_guard<std::mutex> lock(m_shownLock);
        std::vector<Shown> shown;
        shown.swap(m_shown);
        return shown;
    }

    std::unique_ptr<CVellumoCore> StartCore() {
        auto core = std::make_unique<CVellumoCore>(m_options);
        EXPECT_TRUE(core->Start()) << core->StorageError();
        return core;
    }
    // A run that ends with a usage report naming one phone.
    void StoreReportOfARun(const std::string& deviceKey) {
        auto core = StartCore();
        core->AddCount(1000, 2);
        core->AddCountItem(1005, deviceKey);
        core->Stop();
    }
    // Starts a check against the server and waits for its end.
    bool RunCheck(CVellumoCore& core, const ScriptedServer& server, bool quiet) {
        setenv("VELLUMO_UPDATE_SERVER", server.Address().c_str(), 1);
        if (!core.CheckForUpdates(quiet)) {
            return false;
        }
        return WaitFor([&] { return !core.IsUpdateCheckRunning(); }, 30s);
    }
    void InstallStandIn(const fs::path& file) {
        ASSERT_TRUE(WriteTestFile(file, kStandIn));
        fs::permissions(file, fs::perms::owner_all);
    }
    // The stand-in's record, once it has written one.
    Json::Value WaitRecord(const fs::path& folder, std::chrono::milliseconds timeout = 20s) {
        Json::Value record;
        if (WaitFor([&] { return fs::exists(folder / "record.json"); }, timeout)) {
            JsonParse(ReadTestFile(folder / "record.json"), record);
        }
        return record;
    }

    TempDir m_dir{"update-check"};
    CoreOptions m_options;
    std::string m_savedPath;
    std::mutex m_shownLock;
    std::vector<Shown> m_shown;
};

std::string UpdateAnswerBody(const std::string& url = "http://updates.test/vellumo-1.3.zip") {
    return "{\"update\" : 1, \"current_version\" : \"1.3\", \"download_url\" : \"" + url + "\"}";
}

} // namespace

TEST_F(UpdateCheckTest, StartUpCheckSendsTheLastReportWithHashedDeviceKeysOnce) {
    StoreReportOfARun("phone-secret-key");
    ScriptedServer server(ScriptedServer::Reply(ScriptedServer::Answer("{\"update\" : 0}")));
    setenv("VELLUMO_UPDATE_SERVER", server.Address().c_str(), 1);
    auto core = StartCore();
    ASSERT_TRUE(server.WaitFinished(1));
    ASSERT_TRUE(WaitFor([&] { return !core->IsUpdateCheckRunning(); }, 30s));

    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string request = server.Requests()[0];
    size_t headEnd = request.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    const std::string body = request.substr(headEnd + 4);
    EXPECT_EQ(request.substr(0, headEnd + 4), "POST /check_update?version=1.2 HTTP/1.1\r\n"
                                              "Accept: */*\r\n"
                                              "Connection: keep-alive\r\n"
                                              "Content-Length: " +
                                                  std::to_string(body.size()) +
                                                  "\r\n"
                                                  "Host: 127.0.0.1:" +
                                                  std::to_string(server.Port()) +
                                                  "\r\n"
                                                  "User-Agent: Vellumo\r\n"
                                                  "\r\n");
    // The report's shape and counts, with the key replaced by its digest.
    EXPECT_EQ(request.find("phone-secret-key"), std::string::npos);
    Json::Value report;
    ASSERT_TRUE(JsonParse(body, report)) << body;
    EXPECT_EQ(JsonAsInt64(report["1000"]), 2);
    EXPECT_EQ(report["pcID"].asString(), GetMachineId());
    ASSERT_EQ(report["devices"].size(), 1u);
    std::string keyed = GetMachineId() + "phone-secret-key";
    EXPECT_EQ(report["devices"][0].asString(), Md5Text(keyed.data(), keyed.size()));
    EXPECT_EQ(body.back(), '\n');

    // Sent once: the stored report is emptied, and an up-to-date start-up check says nothing.
    EXPECT_EQ(core->Library()->GetConfig("count_data"), "");
    EXPECT_TRUE(TakeShown().empty());
}

TEST_F(UpdateCheckTest, UnreachableServerLosesTheReportAndSaysNothing) {
    StoreReportOfARun("phone");
    int deadPort = 0;
    {
        ScriptedServer gone(nullptr);
        deadPort = gone.Port();
    }
    std::string dead = "127.0.0.1:" + std::to_string(deadPort);
    setenv("VELLUMO_UPDATE_SERVER", dead.c_str(), 1);
    auto core = StartCore();
    ASSERT_TRUE(WaitFor([&] { return !core->IsUpdateCheckRunning(); }, 30s));
    EXPECT_EQ(core->Library()->GetConfig("count_data"), "");
    // A check the user asked for stays silent too.
    ASSERT_TRUE(core->CheckForUpdates(false));
    ASSERT_TRUE(WaitFor([&] { return !core->IsUpdateCheckRunning(); }, 30s));
    EXPECT_TRUE(TakeShown().empty());
}

TEST_F(UpdateCheckTest, OffMeansNoRequestAndTheReportStays) {
    StoreReportOfARun("phone");
    auto core = StartCore(); // VELLUMO_UPDATE_SERVER=off
    EXPECT_FALSE(core->IsUpdateCheckRunning());
    EXPECT_FALSE(core->CheckForUpdates(false));
    EXPECT_NE(core->Library()->GetConfig("count_data"), "");
    EXPECT_TRUE(TakeShown().empty());
}

TEST_F(UpdateCheckTest, EveryAnswerCase) {
    const std::string upToDate = "您的Vellumo已经是最新版本 :)" + std::string(17, ' ');
    const std::string question = "发现新版 1.3，前往更新？";
    struct Case {
        std::string answer;
        bool quiet;
        std::string kind; // what is shown: "" nothing, "message", "question"
        std::string text;
    };
    const std::string json = "application/json";
    const std::vector<Case> cases = {
        {ScriptedServer::Answer("{\"update\" : 0}"), false, "message", upToDate},
        {ScriptedServer::Answer("{\"update\" : 0}"), true, "", ""},
        {ScriptedServer::Answer("{\"update\" : 2}"), false, "message", upToDate},
        {ScriptedServer::Answer("not json"), false, "message", upToDate},
        {ScriptedServer::Answer("[1]"), false, "message", upToDate},
        {ScriptedServer::Answer("{\"current_version\" : \"9\"}"), false, "message", upToDate},
        {ScriptedServer::Answer(UpdateAnswerBody()), true, "question", question},
        {ScriptedServer::Answer(UpdateAnswerBody(), "500 Oops"), false, "question", question},
        {ScriptedServer::Answer("{\"update\" : \"1\", \"current_version\" : \"1.3\", "
                                "\"download_url\" : \"http://u.test/\"}"),
         false, "question", question},
        {ScriptedServer::Answer("{\"update\" : true, \"current_version\" : \"1.3\", "
                                "\"download_url\" : \"http://u.test/\"}"),
         false, "question", question},
        // Incomplete announcements are dropped silently, even when the user asked.
        {ScriptedServer::Answer("{\"update\" : 1, \"current_version\" : \"1.3\"}"), false, "", ""},
        {ScriptedServer::Answer("{\"update\" : 1, \"download_url\" : \"http://u.test/\"}"), false,
         "", ""},
        // The server's version text is plain, short text.
        {ScriptedServer::Answer("{\"update\" : 1, \"current_version\" : \"1.\\r\\n3\\t" +
                                std::string(100, 'x') +
                                "\", \"download_url\" : \"http://u.test/\"}"),
         false, "question", "发现新版 1.3" + std::string(29, 'x') + "，前往更新？"},
        // No usable body: a network failure, never reported.
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, "", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n{\"update\" : 0}", false, "", ""},
    };
    auto core = StartCore();
    for (const Case& c : cases) {
        ScriptedServer server(ScriptedServer::Reply(c.answer));
        ASSERT_TRUE(RunCheck(*core, server, c.quiet)) << c.answer;
        std::vector<Shown> shown = TakeShown();
        if (c.kind.empty()) {
            EXPECT_TRUE(shown.empty()) << c.answer;
            continue;
        }
        ASSERT_EQ(shown.size(), 1u) << c.answer;
        EXPECT_EQ(shown[0].kind, c.kind) << c.answer;
        EXPECT_EQ(shown[0].title, c.kind == "message" ? "检查更新" : "更新");
        EXPECT_EQ(shown[0].text, c.text) << c.answer;
    }
}

TEST_F(UpdateCheckTest, OkStartsTheUpdaterWithArgumentsAloneInItsSession) {
    InstallStandIn(m_dir / "bin" / "fernlift");
    InstallDesktop(true);
    // A socket without close-on-exec, like the service's: the updater must not inherit it.
    int leaky = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(leaky, 3);
    ScriptedServer server(ScriptedServer::Reply(ScriptedServer::Answer(UpdateAnswerBody())));
    auto core = StartCore();
    ASSERT_TRUE(RunCheck(*core, server, false));
    Json::Value record = WaitRecord(m_dir / "bin");
    ::close(leaky);
    ASSERT_TRUE(record.isObject()) << "the updater was not started";
    ASSERT_EQ(record["argv"].size(), 4u);
    EXPECT_EQ(record["argv"][0].asString(), (m_dir / "bin" / "fernlift").string());
    EXPECT_EQ(record["argv"][1].asString(), m_options.programPath.string());
    EXPECT_EQ(record["argv"][2].asString(), "1.2");
    EXPECT_EQ(record["argv"][3].asString(), std::to_string(::getpid()));
    EXPECT_EQ(JsonCompact(record["fds"]), "[0,1,2]\n");
    EXPECT_EQ(record["sid"].asInt64(), record["pid"].asInt64());
    EXPECT_EQ(record["server"].asString(), server.Address());
}

TEST_F(UpdateCheckTest, WithoutTheUpdaterOnlyWebAddressesAreOpened) {
    InstallStandIn(m_dir / "path" / "xdg-open");
    setenv("PATH", ((m_dir / "path").string() + ":" + m_savedPath).c_str(), 1);
    InstallDesktop(true);
    auto core = StartCore();
    // Refused addresses first: if one were opened, its record would be there by the time the
    // accepted one's is.
    for (const std::string url : {"file:///etc/passwd", "javascript:alert(1)", "http://a.test/x y",
                                  "http://a.test/\\tx", "http:///path"}) {
        ScriptedServer server(ScriptedServer::Reply(ScriptedServer::Answer(UpdateAnswerBody(url))));
        ASSERT_TRUE(RunCheck(*core, server, false));
        EXPECT_EQ(TakeShown().size(), 1u);
    }
    ScriptedServer server(ScriptedServer::Reply(
        ScriptedServer::Answer(UpdateAnswerBody("HTTPS://updates.test/vellumo-1.3.zip"))));
    ASSERT_TRUE(RunCheck(*core, server, false));
    Json::Value record = WaitRecord(m_dir / "path");
    ASSERT_TRUE(record.isObject()) << "xdg-open was not started";
    ASSERT_EQ(record["argv"].size(), 2u);
    EXPECT_EQ(record["argv"][1].asString(), "HTTPS://updates.test/vellumo-1.3.zip");
    EXPECT_EQ(JsonCompact(record["fds"]), "[0,1,2]\n");
}

TEST_F(UpdateCheckTest, CancelAndHeadlessStartNothing) {
    InstallStandIn(m_dir / "bin" / "fernlift");
    ScriptedServer server(ScriptedServer::Reply(ScriptedServer::Answer(UpdateAnswerBody())));
    auto core = StartCore();
    // Cancel on the desktop.
    ASSERT_TRUE(RunCheck(*core, server, false));
    EXPECT_EQ(TakeShown().size(), 1u);
    // Headless: one line on stderr, no question, no updater.
    SetHeadlessMode(true);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(RunCheck(*core, server, true));
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, "更新: 发现新版 1.3，下载地址 http://updates.test/vellumo-1.3.zip\n");
    EXPECT_TRUE(TakeShown().empty());
    // Without any desktop backend a question is answered Cancel.
    SetHeadlessMode(false);
    SetDialogBackend({});
    ASSERT_TRUE(RunCheck(*core, server, false));
    EXPECT_FALSE(WaitFor([&] { return fs::exists(m_dir / "bin" / "record.json"); }, 500ms));
}

TEST_F(UpdateCheckTest, TwoQuickChecksMakeOneRequest) {
    ScriptedServer server([](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Pause(200ms);
        connection.Send(ScriptedServer::Answer("{\"update\" : 0}"));
    });
    auto core = StartCore();
    setenv("VELLUMO_UPDATE_SERVER", server.Address().c_str(), 1);
    EXPECT_TRUE(core->CheckForUpdates(false));
    EXPECT_FALSE(core->CheckForUpdates(false));
    ASSERT_TRUE(WaitFor([&] { return !core->IsUpdateCheckRunning(); }, 30s));
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(TakeShown().size(), 1u);
}

TEST_F(UpdateCheckTest, ShutdownDuringAHungCheckDoesNotWaitForTheServer) {
    StoreReportOfARun("phone");
    ScriptedServer server([](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.WaitClientClose();
    });
    setenv("VELLUMO_UPDATE_SERVER", server.Address().c_str(), 1);
    auto core = StartCore();
    ASSERT_TRUE(WaitFor([&] { return server.Requests().size() == 1; }, 30s));
    ASSERT_TRUE(core->IsUpdateCheckRunning());
    core->AddCount(1004, 1);
    auto start = std::chrono::steady_clock::now();
    core->Stop();
    // The check waits up to 300 s for an answer; shutdown must not.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    EXPECT_FALSE(core->IsUpdateCheckRunning());
    EXPECT_TRUE(server.WaitFinished(1));
    // This run's report was stored after the check ended, not cleared by it.
    auto again = std::make_unique<CVellumoCore>(m_options);
    setenv("VELLUMO_UPDATE_SERVER", "off", 1);
    ASSERT_TRUE(again->Start());
    Json::Value report;
    ASSERT_TRUE(JsonParse(again->Library()->GetConfig("count_data"), report));
    EXPECT_EQ(JsonAsInt64(report["1004"]), 1);
}

TEST_F(UpdateCheckTest, ThePublishedNginxConfigurationAnswersBothPrograms) {
    if (!TestNginx::Available()) {
        GTEST_SKIP() << "nginx-light is not installed (make deps-test installs it)";
    }
    const std::string package(300000, 'z');
    ASSERT_TRUE(WriteTestFile(m_dir / "updates" / "packages" / "vellumo-1.3.zip", package));
    int port = FreeTcpPort();
    TestNginx nginx(m_dir / "nginx");
    ASSERT_TRUE(nginx.Start(
        m_dir / "www", TestNginx::UpdateServerConfig(VELLUMO_SOURCE_DIR, port, m_dir / "updates")))
        << nginx.ErrorLog();
    std::string address = "127.0.0.1:" + std::to_string(port);

    // Vellumo's question, with its report, is offered 1.3.
    StoreReportOfARun("phone");
    auto core = StartCore();
    setenv("VELLUMO_UPDATE_SERVER", address.c_str(), 1);
    ASSERT_TRUE(core->CheckForUpdates(false));
    ASSERT_TRUE(WaitFor([&] { return !core->IsUpdateCheckRunning(); }, 30s));
    std::vector<Shown> shown = TakeShown();
    ASSERT_EQ(shown.size(), 1u) << nginx.ErrorLog();
    EXPECT_EQ(shown[0].text, "发现新版 1.3，前往更新？");

    // Fernlift's question (a GET) finds the package address; the newest version is told so.
    for (const std::string version : {"1.2", "1.3"}) {
        CHttpAgent agent;
        ASSERT_TRUE(
            agent.Open("127.0.0.1", port, "GET", "/check_update?version=" + version, "HTTP/1.1"));
        ASSERT_TRUE(agent.SetHeader("Host", "%s", address.c_str()));
        ASSERT_TRUE(agent.SendHead() && agent.ReceiveHead());
        EXPECT_EQ(agent.GetStatusCode(), 200);
        std::string body;
        ASSERT_TRUE(agent.ReceiveBody(body));
        Json::Value answer;
        ASSERT_TRUE(JsonParse(body, answer)) << body;
        EXPECT_EQ(JsonAsInt64(answer["update"]), version == "1.2" ? 1 : 0);
        if (version == "1.2") {
            EXPECT_EQ(answer["update_url"].asString().rfind("http://", 0), 0u);
        }
    }
    // The package, with its length.
    CHttpAgent agent;
    ASSERT_TRUE(agent.Open("127.0.0.1", port, "GET", "/packages/vellumo-1.3.zip", "HTTP/1.1"));
    ASSERT_TRUE(agent.SetHeader("Host", "%s", address.c_str()));
    ASSERT_TRUE(agent.SendHead() && agent.ReceiveHead());
    EXPECT_EQ(agent.GetStatusCode(), 200);
    ASSERT_TRUE(agent.DownloadToFile(m_dir / "package.zip", nullptr, nullptr));
    EXPECT_EQ(ReadTestFile(m_dir / "package.zip"), package);
}
