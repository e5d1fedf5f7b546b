// Fernlift against a real installed Vellumo and a real web server on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/WaitFor.h"
#include "tests/updater/PackageMaker.h"
#include "tests/updater/UpdateRig.h"
#include "updater/CHUpdateFlow.h"
#include "updater/UpdaterTexts.h"

namespace {

std::string BinaryOfVellumo() {
    std::ifstream in(VellumoBinaryPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Listening(int port) {
    return HttpRequest("127.0.0.1", port, "GET", "/echo").received;
}

// Answers one request with a Content-Length it never delivers, then hangs up.
class CutShortServer {
public:
    explicit CutShortServer(int64_t announced = 1000000) {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        socklen_t length = sizeof(address);
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        ::listen(m_socket, 4);
        m_thread = std::thread([this, announced] {
            int client = ::accept(m_socket, nullptr, nullptr);
            if (client < 0) {
                return;
            }
            char buffer[4096];
            ::recv(client, buffer, sizeof(buffer), 0);
            std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(announced) +
                                "\r\n\r\n" + std::string(5000, 'z');
            ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::close(client);
        });
    }
    ~CutShortServer() {
        ::shutdown(m_socket, SHUT_RDWR);
        ::close(m_socket);
        m_thread.join();
    }
    int Port() const { return m_port; }

private:
    int m_socket = -1;
    int m_port = 0;
    std::thread m_thread;
};

TEST(EndToEnd, UpdatesTheInstalledCopyAndStartsTheNewOne) {
    UpdateRig rig;
    ASSERT_TRUE(rig.Ready());
    std::string newProgram = BinaryOfVellumo() + "new build";
    ASSERT_TRUE(rig.MakePackage("v2.zip",
                                {{"upgrade/upgrade.cfg",
                                  R"({"remove": ["old.dll"],
                                      "files": {"Vellumo.exe": 1, "Pages/index.html": 1,
                                                "Pages/app.js": 1},
                                      "lastrun": "%root%\\Vellumo.exe"})"},
                                 {"upgrade/Vellumo.exe", newProgram},
                                 {"upgrade/Pages/index.html", "<html>new</html>"},
                                 {"upgrade/Pages/app.js", "app()"}},
                                TestPrivateKey()));
    rig.AnswerPackage("v2.zip");
    pid_t oldPid = rig.Vellumo().Pid();

    FernliftRun run = rig.RunFernlift(rig.StandardArguments());
    ASSERT_EQ(run.status, 0) << run.output << run.errors;
    EXPECT_TRUE(run.Shows(texts::kDone)) << run.output;
    EXPECT_TRUE(run.Shows("正在下载升级包 100%...")) << run.output;

    // The old one ended in order through SIGTERM.
    EXPECT_FALSE(rig.Vellumo().IsRunning());
    EXPECT_NE(rig.Vellumo().Output().find("Stopping (SIGTERM)"), std::string::npos);
    EXPECT_NE(rig.Vellumo().Output().find("Vellumo stopped."), std::string::npos);

    EXPECT_EQ(ReadTestFile(rig.Program()), newProgram);
    EXPECT_TRUE((fs::status(rig.Program()).permissions() & fs::perms::owner_exec) !=
                fs::perms::none);
    EXPECT_EQ(ReadTestFile(rig.Install() / "Pages/index.html"), "<html>new</html>");
    EXPECT_EQ(ReadTestFile(rig.Install() / "Pages/app.js"), "app()");
    EXPECT_FALSE(fs::exists(rig.Install() / "old.dll"));
    EXPECT_FALSE(fs::exists(rig.Install() / ".fernlift-backup"));
    EXPECT_EQ(rig.LeftoverTempFolders(), 0u);

    // The new program runs from the installation, with the arguments the old one had.
    pid_t newPid = run.StartedPid();
    ASSERT_GT(newPid, 0) << run.output;
    EXPECT_NE(newPid, oldPid);
    EXPECT_TRUE(WaitFor([&] { return Listening(rig.Vellumo().Port()); }, std::chrono::seconds(30)));
    std::string cmdline = ReadTestFile("/proc/" + std::to_string(newPid) + "/cmdline");
    EXPECT_NE(cmdline.find("--headless"), std::string::npos);
    EXPECT_TRUE(fs::equivalent("/proc/" + std::to_string(newPid) + "/exe", rig.Program()));
    EXPECT_TRUE(UpdateRig::EndProcess(newPid));
}

// Every failure before the apply leaves the installation untouched and Vellumo running.
class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_rig.Ready());
        m_before = TreeDigest(m_rig.Install());
    }
    void ExpectUntouched(const FernliftRun& run, const char* status) {
        EXPECT_EQ(run.status, 1) << run.output << run.errors;
        EXPECT_TRUE(run.Shows(status)) << run.output << run.errors;
        EXPECT_FALSE(run.Shows(texts::kDone)) << run.output;
        EXPECT_EQ(TreeDigest(m_rig.Install()), m_before);
        EXPECT_TRUE(m_rig.Vellumo().IsRunning());
        EXPECT_TRUE(Listening(m_rig.Vellumo().Port()));
        EXPECT_EQ(m_rig.LeftoverTempFolders(), 0u);
    }
    FernliftRun Serve(const std::string& name) {
        m_rig.AnswerPackage(name);
        return m_rig.RunFernlift(m_rig.StandardArguments());
    }
    // A hostile zip, signed with the trusted key (as if the key had signed whatever it got).
    FernliftRun ServeZip(const std::string& name, const std::vector<ZipEntry>& entries) {
        fs::path file = m_rig.WebFolder() / name;
        EXPECT_TRUE(WriteZip(file, entries));
        EXPECT_TRUE(SignFile(file, TestPrivateKey()));
        return Serve(name);
    }

    UpdateRig m_rig;
    std::string m_before;
};

TEST_F(Hostile, NetworkAndAuthenticityFailures) {
    CutShortServer cut;
    m_rig.Answer(R"({"update": 1, "update_url": "http://127.0.0.1:)" + std::to_string(cut.Port()) +
                 R"(/v2.zip"})");
    ExpectUntouched(m_rig.RunFernlift(m_rig.StandardArguments()), texts::kDownloadFailed);

    // A package announced larger than 512 MiB is refused before a byte is written.
    CutShortServer huge((512LL << 20) + 1);
    m_rig.Answer(R"({"update": 1, "update_url": "http://127.0.0.1:)" + std::to_string(huge.Port()) +
                 R"(/v2.zip"})");
    FernliftRun refused = m_rig.RunFernlift(m_rig.StandardArguments());
    ExpectUntouched(refused, texts::kDownloadFailed);
    EXPECT_FALSE(refused.Shows("正在下载升级包 1%")) << refused.output;

    m_rig.Answer(R"({"update": 1, "update_url": "https://127.0.0.1/v2.zip"})");
    ExpectUntouched(m_rig.RunFernlift(m_rig.StandardArguments()), texts::kBadAddress);

    const std::map<std::string, std::string> package = {
        {"upgrade.cfg", R"({"files": {"vellumo": 1}})"}, {"vellumo", "replaced"}};
    ASSERT_TRUE(m_rig.MakePackage("unsigned.zip", package, TestPrivateKey()));
    fs::remove(m_rig.WebFolder() / "unsigned.zip.sig");
    ExpectUntouched(Serve("unsigned.zip"), texts::kDownloadFailed);

    ASSERT_TRUE(m_rig.MakePackage("foreign.zip", package, OtherPrivateKey()));
    ExpectUntouched(Serve("foreign.zip"), texts::kIncomplete);

    // Signed, then changed on the way.
    ASSERT_TRUE(m_rig.MakePackage("changed.zip", package, TestPrivateKey()));
    std::string bytes = ReadTestFile(m_rig.WebFolder() / "changed.zip");
    bytes[bytes.size() / 2] ^= 0x40;
    WriteTestFile(m_rig.WebFolder() / "changed.zip", bytes);
    ExpectUntouched(Serve("changed.zip"), texts::kIncomplete);

    WriteTestFile(m_rig.WebFolder() / "corrupt.zip", std::string(4096, 'x'));
    ASSERT_TRUE(SignFile(m_rig.WebFolder() / "corrupt.zip", TestPrivateKey()));
    ExpectUntouched(Serve("corrupt.zip"), texts::kIncomplete);
}

TEST_F(Hostile, ZipsThatAttackTheUnpacker) {
    const std::string script = R"({"files": {"vellumo": 1}})";
    ExpectUntouched(ServeZip("slip.zip", {{"upgrade.cfg", script}, {"../../slipped", "x"}}),
                    texts::kUnpackFailed);
    EXPECT_FALSE(fs::exists(m_rig.Scratch().parent_path() / "slipped"));
    ExpectUntouched(
        ServeZip("link.zip", {{"upgrade.cfg", script}, {"vellumo", "/bin/sh", 0120777}}),
        texts::kUnpackFailed);
    ExpectUntouched(ServeZip("crc.zip", {{"upgrade.cfg", script},
                                         {"vellumo", "payload", 0100755, "", true, 0}}),
                    texts::kUnpackFailed);
    ExpectUntouched(
        ServeZip("secret.zip", {{"upgrade.cfg", script}, {"vellumo", "payload", 0100755, "pw"}}),
        texts::kUnpackFailed);
    // The flood of entries is refused by the same check (the unpacker tests cover it).
    ExpectUntouched(ServeZip("bomb.zip", {{"upgrade.cfg", script},
                                          {"vellumo", std::string((512 << 20) + 1, '\0')}}),
                    texts::kUnpackFailed);
}

TEST_F(Hostile, ScriptsThatReachOutsideChangeNothing) {
    fs::path victim = m_rig.Scratch() / "victim.txt";
    WriteTestFile(victim, "keep me");
    std::string outside = fs::relative(victim, m_rig.Install()).string();
    // One of each kind here; the script tests go through every rule.
    for (const std::string& script :
         std::vector<std::string>{R"({"remove": [")" + outside + R"("]})",
                                  R"({"files": {"vellumo": 1}, "remove": ["/etc/hostname"]})",
                                  R"({"files": {"vellumo": 1}, "lastrun": "/bin/sh"})"}) {
        ASSERT_TRUE(m_rig.MakePackage(
            "script.zip", {{"upgrade.cfg", script}, {"vellumo", "replaced"}}, TestPrivateKey()));
        ExpectUntouched(Serve("script.zip"), texts::kScriptError);
        EXPECT_EQ(ReadTestFile(victim), "keep me");
    }
}

TEST_F(Hostile, CommandsInTheScriptAreNeverCarriedOut) {
    fs::path witness = m_rig.Scratch() / "witness";
    ASSERT_TRUE(m_rig.MakePackage(
        "commands.zip",
        {{"upgrade.cfg", R"({"precmd": [{"cmd": "touch )" + witness.string() +
                             R"(", "show": 0}], "postcmd": [{"cmd": "touch %root%/post"}],
                             "lastrun": "%root%/vellumo"})"}},
        TestPrivateKey()));
    FernliftRun run = Serve("commands.zip");
    EXPECT_EQ(run.status, 0) << run.output << run.errors;
    EXPECT_TRUE(run.Shows(texts::kDone));
    EXPECT_FALSE(fs::exists(witness));
    EXPECT_EQ(TreeDigest(m_rig.Install()), m_before);
    pid_t restarted = run.StartedPid();
    ASSERT_GT(restarted, 0);
    EXPECT_TRUE(
        WaitFor([&] { return Listening(m_rig.Vellumo().Port()); }, std::chrono::seconds(30)));
    EXPECT_TRUE(UpdateRig::EndProcess(restarted));
}

TEST_F(Hostile, CopyFailureHalfWayRollsBackAndRestartsTheOldProgram) {
    fs::path locked = m_rig.Install() / "Pages/index.html";
    std::string lockCommand = "chattr +i '" + locked.string() + "' 2>/dev/null";
    if (std::system(lockCommand.c_str()) != 0) {
        GTEST_SKIP() << "chattr +i is not available on this file system";
    }
    ASSERT_TRUE(m_rig.MakePackage("locked.zip",
                                  {{"upgrade.cfg", R"({"remove": ["old.dll"],
                                      "files": {"Pages/a.js": 1, "Pages/index.html": 1,
                                                "vellumo": 1}})"},
                                   {"Pages/a.js", "a"},
                                   {"Pages/index.html", "new"},
                                   {"vellumo", "replaced"}},
                                  TestPrivateKey()));
    FernliftRun run = Serve("locked.zip");
    std::system(("chattr -i '" + locked.string() + "'").c_str());
    EXPECT_EQ(run.status, 1) << run.output << run.errors;
    EXPECT_TRUE(run.Shows(texts::kRolledBack)) << run.output;
    EXPECT_FALSE(run.Shows(texts::kDone));
    EXPECT_EQ(TreeDigest(m_rig.Install()), m_before);
    // The old Vellumo was ended for the apply and is running again.
    pid_t restarted = run.StartedPid();
    ASSERT_GT(restarted, 0) << run.output;
    EXPECT_TRUE(
        WaitFor([&] { return Listening(m_rig.Vellumo().Port()); }, std::chrono::seconds(30)));
    EXPECT_TRUE(UpdateRig::EndProcess(restarted));
}

// The apply helper killed between two replacements: the updater rolls its journal back and
// starts the old program; a later start finds nothing left to undo.
TEST_F(Hostile, KilledApplyIsRolledBack) {
    ASSERT_TRUE(m_rig.MakePackage("big.zip",
                                  {{"upgrade.cfg", R"({"files": {"Pages/index.html": 1,
                                      "big1.bin": 1, "big2.bin": 1, "vellumo": 1}})"},
                                   {"Pages/index.html", "new"},
                                   {"big1.bin", std::string(48 << 20, 'a')},
                                   {"big2.bin", std::string(48 << 20, 'b')},
                                   {"vellumo", "replaced"}},
                                  TestPrivateKey()));
    m_rig.AnswerPackage("big.zip");
    fs::path out = m_rig.Scratch() / "killed.txt";
    pid_t fernlift = m_rig.StartFernlift(m_rig.StandardArguments(), out);
    ASSERT_GT(fernlift, 0);
    // After the first replacement the helper reports progress; kill it then.
    ASSERT_TRUE(WaitFor(
        [&] {
            std::string text = ReadTestFile(out);
            size_t copying = text.find(texts::kCopying);
            return copying != std::string::npos &&
                   text.find("progress 25", copying) != std::string::npos;
        },
        std::chrono::seconds(60)))
        << ReadTestFile(out);
    bool killed = false;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::string cmdline = ReadTestFile(entry.path() / "cmdline");
        if (cmdline.find("--apply") != std::string::npos &&
            cmdline.find(m_rig.Program().string()) != std::string::npos) {
            killed = ::kill(std::stoi(entry.path().filename().string()), SIGKILL) == 0;
        }
    }
    ASSERT_TRUE(killed);
    int status = 0;
    ::waitpid(fernlift, &status, 0);
    std::string output = ReadTestFile(out);
    EXPECT_EQ(WEXITSTATUS(status), 1) << output;
    EXPECT_NE(output.find(texts::kRolledBack), std::string::npos) << output;
    EXPECT_EQ(TreeDigest(m_rig.Install()), m_before);
    FernliftRun parsed;
    parsed.output = output;
    pid_t restarted = parsed.StartedPid();
    ASSERT_GT(restarted, 0) << output;
    EXPECT_TRUE(
        WaitFor([&] { return Listening(m_rig.Vellumo().Port()); }, std::chrono::seconds(30)));
    EXPECT_TRUE(UpdateRig::EndProcess(restarted));
    EXPECT_EQ(m_rig.LeftoverTempFolders(), 0u);
}

// Records what a run shows.
class RecordingView : public IUpdateView {
public:
    void ShowStatus(const std::string& text) override { statuses.push_back(text); }
    void ShowProgress(int percent) override { progress.push_back(percent); }
    std::vector<std::string> statuses;
    std::vector<int> progress;
};

// When the rights for the apply are refused, nothing is ended and nothing changes.
TEST_F(Hostile, RefusedElevationEndsNothing) {
    ASSERT_TRUE(m_rig.MakePackage(
        "v2.zip", {{"upgrade.cfg", R"({"files": {"vellumo": 1}})"}, {"vellumo", "replaced"}},
        TestPrivateKey()));
    m_rig.AnswerPackage("v2.zip");
    std::string server = "127.0.0.1:" + std::to_string(m_rig.ServerPort());
    ::setenv("VELLUMO_UPDATE_SERVER", server.c_str(), 1);
    UpdateTarget target{m_rig.Program(), "1.2", m_rig.Vellumo().Pid()};
    UpdateOptions options;
    options.helper = FernliftBinaryPath();
    options.alwaysElevate = true;
    options.elevator = {"false"}; // as pkexec when the user dismisses the question
    RecordingView view;
    CHUpdateFlow flow(target, options, view);
    EXPECT_EQ(flow.Run(), CHUpdateFlow::Outcome::Failed);
    ::setenv("VELLUMO_UPDATE_SERVER", "off", 1);
    ASSERT_FALSE(view.statuses.empty());
    EXPECT_EQ(view.statuses.back(), texts::kNoElevation);
    // Progress reached the view once per percent, in order.
    for (size_t i = 1; i < view.progress.size(); ++i) {
        EXPECT_LT(view.progress[i - 1], view.progress[i]);
    }
    EXPECT_EQ(view.progress.back(), 100);
    EXPECT_EQ(TreeDigest(m_rig.Install()), m_before);
    EXPECT_TRUE(m_rig.Vellumo().IsRunning());
    EXPECT_EQ(m_rig.LeftoverTempFolders(), 0u);
}

TEST(EndToEndStart, WrongCommandLinesEndSilentlyAndUnfinishedUpdatesAreUndoneFirst) {
    UpdateRig rig;
    ASSERT_TRUE(rig.Ready());
    std::string before = TreeDigest(rig.Install());
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{rig.Program().string(), "1.2"},
                                               {rig.Program().string(), "1.2", "-5"},
                                               {rig.Program().string(), "1.2", "12abc"},
                                               {rig.Program().string(), "", "1"},
                                               {(rig.Install() / "none").string(), "1.2", "1"}}) {
        FernliftRun run = rig.RunFernlift(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, "");
    }
    // A journal left by a crash: the file it added goes, the file it replaced comes back.
    fs::create_directories(rig.Install() / ".fernlift-backup/files/Pages");
    fs::rename(rig.Install() / "Pages/index.html",
               rig.Install() / ".fernlift-backup/files/Pages/index.html");
    WriteTestFile(rig.Install() / "Pages/index.html", "half-updated");
    WriteTestFile(rig.Install() / "added.js", "added");
    WriteTestFile(rig.Install() / ".fernlift-backup/journal",
                  "fernlift-journal 1\nadded\tadded.js\nreplaced\tPages/index.html\n");
    rig.Answer(R"({"update": 0})");
    FernliftRun run = rig.RunFernlift(rig.StandardArguments());
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_TRUE(run.Shows(texts::kNoUpdate)) << run.output;
    EXPECT_EQ(TreeDigest(rig.Install()), before);
    EXPECT_TRUE(rig.Vellumo().IsRunning());
}

} // namespace
