// The real vellumo program under a private Xvfb with a temporary HOME: what the user sees is
// read from screenshots and from the live element tree the program writes on SIGUSR1.

#include "media/CHBitmap.h"
#include "media/JsonText.h"
#include "shell/StoragePaths.h"
#include "tests/support/ReferenceImage.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestImages.h"
#include "tests/support/TestProcess.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr const char* kRunning = "Vellumo is running with its window.";
constexpr const char* kPhone = "127.0.0.2";
constexpr const char* kKey = "desk-phone-1";

pid_t SpawnTool(const std::vector<std::string>& args, const std::string& display, int outFd = -1,
                int keepFd = -1, const std::vector<std::string>& extraEnv = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
    posix_spawn_file_actions_adddup2(&actions, outFd >= 0 ? outFd : devnull, 1);
    posix_spawn_file_actions_adddup2(&actions, devnull, 2);
    if (keepFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, keepFd, 3);
    }
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("DISPLAY=", 0) != 0) {
            env.push_back(*e);
        }
    }
    if (!display.empty()) {
        env.push_back("DISPLAY=" + display);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(devnull);
    return pid;
}

void EndProcess(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

Json::Value JsonOf(const std::string& text) {
    Json::Value value;
    JsonParse(text, value);
    return value;
}

// The first element (depth-first) whose kind is kind and whose text is text.
const Json::Value* FindText(const Json::Value& node, const std::string& kind,
                            const std::string& text) {
    if (node["kind"].asString() == kind && node["text"].asString() == text) {
        return &node;
    }
    for (const Json::Value& child : node["children"]) {
        if (const Json::Value* found = FindText(child, kind, text)) {
            return found;
        }
    }
    return nullptr;
}

// The first element (depth-first) whose kind is kind.
const Json::Value* FindKind(const Json::Value& node, const std::string& kind) {
    if (node["kind"].asString() == kind) {
        return &node;
    }
    for (const Json::Value& child : node["children"]) {
        if (const Json::Value* found = FindKind(child, kind)) {
            return found;
        }
    }
    return nullptr;
}

// An Xvfb on a free display number; its display name (":N"), empty when it did not start.
std::string StartXvfb(pid_t& pid) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    pid = SpawnTool({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                     "-br", "-noreset"},
                    "", -1, fds[1]);
    close(fds[1]);
    std::string number;
    char c;
    while (pid > 0 && read(fds[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    close(fds[0]);
    return number.empty() ? std::string() : ":" + number;
}

// The first column of the first row of a query on the library file.
std::string LibraryQuery(const fs::path& library, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string value;
    if (sqlite3_open_v2(library.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0)) {
            value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return value;
}

// A window mapped but not yet painted shows the root window's black: a painted one has the
// white client area.
bool IsPainted(const std::string& png) {
    CHBitmap picture;
    if (!picture.LoadFromMemory(png.data(), png.size())) {
        return false;
    }
    int white = 0;
    for (int y = 0; y < picture.Height(); y += 8) {
        for (int x = 0; x < picture.Width(); x += 8) {
            white += (picture.Pixel(x, y) & 0xFFFFFF) == 0xFFFFFF ? 1 : 0;
        }
    }
    return white * 4 > (picture.Width() / 8) * (picture.Height() / 8);
}

// Every element (depth-first) whose kind is kind.
void CollectKind(const Json::Value& node, const std::string& kind,
                 std::vector<const Json::Value*>& out) {
    if (node["kind"].asString() == kind) {
        out.push_back(&node);
    }
    for (const Json::Value& child : node["children"]) {
        CollectKind(child, kind, out);
    }
}

class DesktopE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_display = StartXvfb(s_xvfb);
        ASSERT_GT(s_xvfb, 0) << "Xvfb is not installed (package xvfb)";
        ASSERT_FALSE(s_display.empty()) << "Xvfb did not start";
    }
    static void TearDownTestSuite() { EndProcess(s_xvfb); }

    void TearDown() override {
        if (m_app && m_app->IsRunning()) {
            EXPECT_EQ(m_app->Stop(SIGTERM), 0) << m_app->ErrorOutput();
        }
        m_app.reset();
        EndProcess(m_trayer);
        EndProcess(m_watcher);
        EndProcess(m_dunst);
        EndProcess(m_busDaemon);
    }

    // A session bus of the test's own; its address in m_bus.
    void StartSessionBus() {
        fs::path out = m_dir / "bus-address";
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        m_busDaemon =
            SpawnTool({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, "", fd);
        close(fd);
        ASSERT_GT(m_busDaemon, 0) << "dbus-daemon is not installed (package dbus)";
        ASSERT_TRUE(
            WaitFor([&] { return ReadTestFile(out).find('\n') != std::string::npos; }, 10s));
        m_bus = ReadTestFile(out);
        m_bus.pop_back();
    }

    // Starts a helper on the test's bus and display with its output in a file.
    pid_t StartOnBus(const std::vector<std::string>& args, const fs::path& output) {
        int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_t pid = SpawnTool(args, s_display, fd, -1, {"DBUS_SESSION_BUS_ADDRESS=" + m_bus});
        close(fd);
        return pid;
    }

    void StartApp(const std::vector<std::string>& args = {}, const std::string& display = {}) {
        m_app = std::make_unique<VellumoProcess>(VellumoBinaryPath(), m_dir.Path());
        // Not a first run: a storage folder is recorded, so no wizard comes first.
        if (!fs::exists(m_app->PointerFile()))
            ASSERT_TRUE(WriteSettingsRoot(m_app->PointerFile(), m_app->DefaultRoot()));
        std::vector<std::string> env = {"DISPLAY=" + (display.empty() ? s_display : display),
                                        "VELLUMO_UI_TREE=" + (m_dir / "tree.json").string(),
                                        "VELLUMO_TEST_STILL_CAROUSEL=1"};
        if (!m_bus.empty()) {
            env.push_back("DBUS_SESSION_BUS_ADDRESS=" + m_bus);
        }
        m_app->SetExtraEnvironment(env);
        ASSERT_TRUE(m_app->Start(args));
        ASSERT_TRUE(m_app->WaitForOutput(kRunning)) << m_app->ErrorOutput();
    }

    // A second start of the program in the same sandbox; its exit status.
    int SecondStart() {
        VellumoProcess second(VellumoBinaryPath(), m_dir.Path(), m_app->Port());
        second.SetExtraEnvironment({"DISPLAY=" + s_display});
        return second.RunToEnd({});
    }

    // The element tree as the running program sees it now.
    Json::Value Tree() {
        fs::path file = m_dir / "tree.json";
        std::error_code error;
        fs::remove(file, error);
        kill(m_app->Pid(), SIGUSR1);
        EXPECT_TRUE(WaitFor([&] { return fs::exists(file); }, 10s)) << "no element tree";
        return JsonOf(ReadTestFile(file));
    }

    // Waits until the tree satisfies the condition; the last tree read.
    Json::Value TreeUntil(const std::function<bool(const Json::Value&)>& condition) {
        Json::Value tree;
        WaitFor(
            [&] {
                tree = Tree();
                return condition(tree);
            },
            15s);
        return tree;
    }

    int RunTool(const std::vector<std::string>& args, std::string* output = nullptr) {
        fs::path out = m_dir / "tool-out.txt";
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_t pid = SpawnTool(args, s_display, fd);
        close(fd);
        if (pid <= 0) {
            return -1;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (output != nullptr) {
            *output = ReadTestFile(out);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // A click at window-relative coordinates.
    void ClickAt(const Json::Value& tree, int x, int y, int button = 1) {
        const Json::Value& window = tree["window"];
        ASSERT_EQ(
            RunTool({"xdotool", "mousemove", std::to_string(window["x"].asInt() + x),
                     std::to_string(window["y"].asInt() + y), "click", std::to_string(button)}),
            0);
    }

    void ClickElement(const Json::Value& tree, const Json::Value& element, int dx = 5, int dy = 5) {
        ClickAt(tree, element["rect"][0].asInt() + dx, element["rect"][1].asInt() + dy);
    }

    // The geometry argument of ImageMagick's crop for a window's rectangle.
    static std::string CropOf(const Json::Value& window) {
        return std::to_string(window["width"].asInt()) + "x" +
               std::to_string(window["height"].asInt()) + "+" +
               std::to_string(window["x"].asInt()) + "+" + std::to_string(window["y"].asInt());
    }

    // The window's pixels once two screenshots in a row agree, in the build folder (kept for
    // a look after a failure); empty when no stable picture was taken.
    fs::path StableScreenshot(const Json::Value& tree, const std::string& name) {
        fs::path folder = fs::path(VELLUMO_BINARY_DIR) / "ui-screenshots";
        fs::create_directories(folder);
        fs::path shot = folder / (name + ".png");
        std::string crop = CropOf(tree["window"]);
        // Nothing hovered: the pointer leaves the window.
        RunTool({"xdotool", "mousemove", "0", "0"});
        std::string last;
        bool stable = WaitFor(
            [&] {
                if (RunTool({"import", "-window", "root", "-crop", crop, "+repage",
                             shot.string()}) != 0) {
                    return false;
                }
                std::string now = ReadTestFile(shot);
                bool same = !now.empty() && now == last;
                last = now;
                return same && IsPainted(now);
            },
            15s);
        return stable ? shot : fs::path();
    }

    // Replaces the text of an edit box in the window described by window with typed text.
    void TypeInto(const Json::Value& window, const Json::Value& box, const std::string& text) {
        int x = window["x"].asInt() + box["rect"][0].asInt() + 10;
        int y = window["y"].asInt() + box["rect"][1].asInt() + 10;
        ASSERT_EQ(RunTool({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click",
                           "1", "key", "ctrl+a", "BackSpace", "type", "--delay", "20", text}),
                  0);
    }

    void ClickIn(const Json::Value& window, const Json::Value& element) {
        int x = window["x"].asInt() + element["rect"][0].asInt() + element["rect"][2].asInt() / 2;
        int y = window["y"].asInt() + element["rect"][1].asInt() + element["rect"][3].asInt() / 2;
        ASSERT_EQ(
            RunTool({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"}),
            0);
    }

    // A screenshot of a window's rectangle; its QR code's text, or "".
    std::string ScanWindow(const Json::Value& window, const std::string& name) {
        fs::path shot = m_dir / name;
        if (RunTool({"import", "-window", "root", "-crop", CropOf(window), "+repage",
                     shot.string()}) != 0) {
            return {};
        }
        std::string decoded;
        RunTool({"zbarimg", "-q", "--raw", shot.string()}, &decoded);
        return decoded;
    }

    HttpReply Phone(const std::string& target, const std::string& body = {}) {
        return HttpRequest(kPhone, m_app->Port(), body.empty() ? "GET" : "POST", target, body);
    }

    // Pairs the test phone with the given password; the answer's status.
    int PairPhone(const std::string& password) {
        return Phone("/auth?key=" + std::string(kKey) + "&passwd=" + password +
                     "&type=1&modal=Pixel")
            .status;
    }

    // Uploads one small photo as a whole run of one; the answer's status.
    int UploadOnePhoto(int seed, const std::string& token) {
        TestJpegOptions photo;
        photo.seed = seed;
        photo.width = 64;
        photo.height = 48;
        std::string name = "IMG_" + std::to_string(seed) + ".JPG";
        return Phone("/import?key=" + std::string(kKey) + "&name=" + name + "&vmd5=" + token +
                         "&cur=1&total=1&speed=10&time=1",
                     MakeTestJpeg(photo))
            .status;
    }

    static bool Shown(const Json::Value& tree) { return tree["window"]["shown"].asBool(); }

    static pid_t s_xvfb;
    static std::string s_display;
    TempDir m_dir{"vellumo-desktop"};
    std::unique_ptr<VellumoProcess> m_app;
    pid_t m_trayer = -1;
    pid_t m_busDaemon = -1;
    pid_t m_watcher = -1;
    pid_t m_dunst = -1;
    std::string m_bus;
};

pid_t DesktopE2E::s_xvfb = -1;
std::string DesktopE2E::s_display;

TEST_F(DesktopE2E, WindowOpensAtItsSizeAndTheQrBubbleScansToThePairingPayload) {
    StartApp();
    Json::Value tree = TreeUntil(Shown);
    ASSERT_TRUE(Shown(tree));
    EXPECT_EQ(tree["window"]["width"].asInt(), 640);
    EXPECT_EQ(tree["window"]["height"].asInt(), 505);
    const Json::Value* devices = FindKind(tree, "CXDevInfo");
    ASSERT_NE(devices, nullptr);
    EXPECT_EQ((*devices)["header"].asString(), "WiFi传输图片到电脑，就这么简单");
    const Json::Value* qrButton = FindKind(tree, "UIQRBtn");
    ASSERT_NE(qrButton, nullptr);
    EXPECT_EQ((*qrButton)["rect"][2].asInt(), 110) << "the wide pairing button without phones";
    const Json::Value* pc = FindKind(tree, "CXPCInfo");
    ASSERT_NE(pc, nullptr);
    EXPECT_EQ((*pc)["library"].asString(), "电脑相册共 0 张照片, 占用空间 0 B");

    ClickElement(tree, *qrButton);
    tree = TreeUntil([](const Json::Value& t) {
        const Json::Value* view = FindKind(t, "CXQRCodeView");
        return view != nullptr && (*view)["visible"].asBool();
    });
    const Json::Value* view = FindKind(tree, "CXQRCodeView");
    ASSERT_NE(view, nullptr);
    std::string payload = m_app->OutputValue("pairing payload");
    ASSERT_FALSE(payload.empty());
    EXPECT_EQ((*view)["payload"].asString(), payload);
    // The code stays clear of its caption.
    EXPECT_LE((*view)["qrRect"][1].asInt() + (*view)["qrRect"][3].asInt(),
              (*view)["captionRect"][1].asInt());

    fs::path shot = m_dir / "bubble.png";
    const Json::Value& window = tree["window"];
    std::string crop = "640x505+" + std::to_string(window["x"].asInt()) + "+" +
                       std::to_string(window["y"].asInt());
    ASSERT_EQ(RunTool({"import", "-window", "root", "-crop", crop, "+repage", shot.string()}), 0);
    std::string decoded;
    ASSERT_EQ(RunTool({"zbarimg", "-q", "--raw", shot.string()}, &decoded), 0);
    EXPECT_EQ(decoded, payload + "\n");

    // A click elsewhere closes the bubble.
    ClickAt(tree, 100, 300);
    tree = TreeUntil([](const Json::Value& t) {
        const Json::Value* v = FindKind(t, "CXQRCodeView");
        return v != nullptr && !(*v)["visible"].asBool();
    });
    EXPECT_FALSE((*FindKind(tree, "CXQRCodeView"))["visible"].asBool());
}

TEST_F(DesktopE2E, APairedPhoneAppearsWithLiveProgressAndHostileNumbersStayBounded) {
    StartApp();
    std::string password = m_app->OutputValue("pairing password");
    HttpReply auth =
        Phone("/auth?key=" + std::string(kKey) + "&passwd=" + password + "&type=1&modal=Pixel");
    ASSERT_EQ(auth.status, 200) << auth.body;
    Json::Value tree = TreeUntil([](const Json::Value& t) {
        const Json::Value* d = FindKind(t, "CXDevInfo");
        return d != nullptr && (*d)["items"].size() == 1;
    });
    const Json::Value* devices = FindKind(tree, "CXDevInfo");
    ASSERT_NE(devices, nullptr);
    ASSERT_EQ((*devices)["items"].size(), 1u);
    EXPECT_EQ((*devices)["header"].asString(), "关联的移动设备 (1)");
    EXPECT_EQ((*devices)["items"][0]["name"].asString(), "Pixel");
    EXPECT_EQ((*FindKind(tree, "UIQRBtn"))["rect"][2].asInt(), 30);

    TestJpegOptions options;
    options.seed = 5;
    options.width = 64;
    options.height = 48;
    std::string photo = MakeTestJpeg(options);
    HttpReply upload = Phone("/import?key=" + std::string(kKey) +
                                 "&name=IMG_1.JPG&vmd5=dG9rZW4x&cur=1&total=3&speed=100&time=4",
                             photo);
    ASSERT_EQ(upload.status, 200) << upload.body;
    tree = TreeUntil([](const Json::Value& t) {
        const Json::Value* d = FindKind(t, "CXDevInfo");
        return d != nullptr && (*d)["items"][0]["count"].asInt() == 1 &&
               (*d)["items"][0]["status"].asString() == "备份中... 1/3";
    });
    const Json::Value& item = (*FindKind(tree, "CXDevInfo"))["items"][0];
    EXPECT_EQ(item["count"].asInt(), 1);
    EXPECT_EQ(item["status"].asString(), "备份中... 1/3");
    EXPECT_EQ(item["detail"].asString(), "预计剩余时间: 00:08  平均速度: 100.00 KB/s");

    // A hostile progress report: bounded texts, no crash.
    Phone("/import?key=" + std::string(kKey) +
              "&name=IMG_2.JPG&vmd5=dG9rZW4y&cur=1&total=2147483647&speed=-7&time=2147483647",
          photo);
    tree = TreeUntil([](const Json::Value& t) {
        const Json::Value* d = FindKind(t, "CXDevInfo");
        return d != nullptr && (*d)["items"][0]["status"].asString() == "备份中... 1/2147483647";
    });
    const Json::Value& hostile = (*FindKind(tree, "CXDevInfo"))["items"][0];
    EXPECT_EQ(hostile["detail"].asString(), "预计剩余时间: 99:59:59  平均速度: 0 B/s");
}

TEST_F(DesktopE2E, WithoutATrayTheCloseButtonEndsTheProgramWithStatusZero) {
    StartApp();
    Json::Value tree = TreeUntil(Shown);
    EXPECT_EQ(tree["tray"].asString(), "none");
    ClickAt(tree, 611, 25); // the close button
    EXPECT_TRUE(WaitFor([&] { return !m_app->IsRunning(); }, 20s));
    EXPECT_EQ(m_app->Stop(SIGTERM), 0) << m_app->ErrorOutput();
}

TEST_F(DesktopE2E, SilentStartShowsTheWindowOnASecondStartAndSigtermEndsWithZero) {
    StartApp({"--silence"});
    EXPECT_FALSE(Shown(Tree()));
    EXPECT_EQ(SecondStart(), 0);
    EXPECT_TRUE(Shown(TreeUntil(Shown)));
    EXPECT_EQ(m_app->Stop(SIGTERM), 0) << m_app->ErrorOutput();
    EXPECT_NE(m_app->Output().find("Vellumo stopped."), std::string::npos);
}

TEST_F(DesktopE2E, WithAnXEmbedTrayCloseHidesAndTheTrayMenuShowsAndQuits) {
    m_trayer = SpawnTool({"trayer", "--edge", "top", "--align", "left", "--widthtype", "pixel",
                          "--width", "64", "--height", "32", "--SetDockType", "true"},
                         s_display);
    ASSERT_GT(m_trayer, 0) << "trayer is not installed (package trayer)";
    ASSERT_TRUE(WaitFor(
        [&] {
            std::string out;
            return RunTool({"xdotool", "search", "--class", "trayer"}, &out) == 0 && !out.empty();
        },
        10s));
    StartApp();
    Json::Value tree = TreeUntil(
        [](const Json::Value& t) { return Shown(t) && t["tray"].asString() == "xembed"; });
    ASSERT_EQ(tree["tray"].asString(), "xembed");

    ClickAt(tree, 611, 25); // close: hidden, still running
    tree = TreeUntil([](const Json::Value& t) { return !Shown(t); });
    EXPECT_FALSE(Shown(tree));
    EXPECT_TRUE(m_app->IsRunning());

    // The docked icon sits in the tray's first slot: its menu's first entry shows the window.
    ASSERT_EQ(RunTool({"xdotool", "mousemove", "16", "16", "click", "3"}), 0);
    ASSERT_EQ(RunTool({"xdotool", "sleep", "0.5", "key", "Down", "Return"}), 0);
    tree = TreeUntil(Shown);
    EXPECT_TRUE(Shown(tree)) << "打开Vellumo did not show the window";

    // The last entry, "退出", ends the program with status 0.
    ASSERT_EQ(RunTool({"xdotool", "mousemove", "16", "16", "click", "3"}), 0);
    ASSERT_EQ(RunTool({"xdotool", "sleep", "0.5", "key", "Up", "Return"}), 0);
    EXPECT_TRUE(WaitFor([&] { return !m_app->IsRunning(); }, 20s));
    EXPECT_EQ(m_app->Stop(SIGTERM), 0) << m_app->ErrorOutput();
}

TEST_F(DesktopE2E, TheStatusNotifierItemRegistersAndABalloonReachesTheNotificationServer) {
    StartSessionBus();
    fs::path data = fs::path(VELLUMO_SOURCE_DIR) / "tests/ui/windows/data";
    fs::path watcherOut = m_dir / "watcher.txt";
    m_watcher = StartOnBus({"/usr/bin/python3", (data / "sni_watcher.py").string()}, watcherOut);
    ASSERT_TRUE(WaitFor(
        [&] { return ReadTestFile(watcherOut).find("watching") != std::string::npos; }, 10s))
        << "the watcher script did not start (package python3-gi)";
    // dunst runs a recording script for every notification it shows.
    fs::path record = m_dir / "notifications.txt";
    fs::path script = m_dir / "record.sh";
    ASSERT_TRUE(WriteTestFile(script, "#!/bin/sh\nprintf '%s|%s\\n' \"$2\" \"$3\" >> '" +
                                          record.string() + "'\n"));
    fs::permissions(script, fs::perms::owner_all);
    std::string config = ReadTestFile(data / "dunstrc");
    config.replace(config.find("@SCRIPT@"), 8, script.string());
    ASSERT_TRUE(WriteTestFile(m_dir / "dunstrc", config));
    m_dunst = StartOnBus({"dunst", "-config", (m_dir / "dunstrc").string()}, m_dir / "dunst.txt");
    ASSERT_GT(m_dunst, 0) << "dunst is not installed (package dunst)";

    StartApp();
    Json::Value tree = TreeUntil(
        [](const Json::Value& t) { return Shown(t) && t["tray"].asString() == "statusnotifier"; });
    ASSERT_EQ(tree["tray"].asString(), "statusnotifier");
    EXPECT_TRUE(WaitFor(
        [&] { return ReadTestFile(watcherOut).find("registered") != std::string::npos; }, 10s))
        << ReadTestFile(watcherOut);

    // Hidden to the tray, a finished backup shows a balloon with the phone's name.
    ClickAt(tree, 611, 25);
    TreeUntil([](const Json::Value& t) { return !Shown(t); });
    std::string password = m_app->OutputValue("pairing password");
    ASSERT_EQ(
        Phone("/auth?key=" + std::string(kKey) + "&passwd=" + password + "&type=1&modal=Pixel<b>")
            .status,
        200);
    TreeUntil([](const Json::Value& t) {
        const Json::Value* d = FindKind(t, "CXDevInfo");
        return d != nullptr && (*d)["items"].size() == 1;
    });
    TestJpegOptions options;
    options.seed = 9;
    options.width = 64;
    options.height = 48;
    ASSERT_EQ(Phone("/import?key=" + std::string(kKey) +
                        "&name=IMG_9.JPG&vmd5=dG9rZW45&cur=1&total=1&speed=10&time=1",
                    MakeTestJpeg(options))
                  .status,
              200);
    EXPECT_TRUE(
        WaitFor([&] { return ReadTestFile(record).find("备份完成") != std::string::npos; }, 15s))
        << ReadTestFile(m_dir / "dunst.txt");
    // Markup in a phone's name reaches the server escaped, shown as written.
    EXPECT_NE(ReadTestFile(record).find("Vellumo|Pixel&lt;b&gt;  备份完成"), std::string::npos)
        << ReadTestFile(record);
}

TEST_F(DesktopE2E, LosingTheDisplayStopsInOrderAndKeepsTheLibraryAndTheUsageReport) {
    pid_t xvfb = -1;
    std::string display = StartXvfb(xvfb);
    ASSERT_FALSE(display.empty());
    StartApp({}, display);
    ASSERT_EQ(PairPhone(m_app->OutputValue("pairing password")), 200);
    ASSERT_EQ(UploadOnePhoto(11, "dG9rZW4xMQ"), 200);
    TreeUntil([](const Json::Value& t) {
        const Json::Value* d = FindKind(t, "CXDevInfo");
        return d != nullptr && (*d)["items"][0]["count"].asInt() == 1;
    });

    EndProcess(xvfb); // the session's X server goes away under the running program
    EXPECT_TRUE(WaitFor([&] { return !m_app->IsRunning(); }, 30s));
    EXPECT_EQ(m_app->Stop(SIGTERM), 0) << m_app->ErrorOutput();
    EXPECT_NE(m_app->Output().find("Vellumo stopped."), std::string::npos);

    fs::path library = m_app->DefaultRoot() / "Vellumo.cfg";
    EXPECT_EQ(LibraryQuery(library, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(LibraryQuery(library, "SELECT COUNT(*) FROM images"), "1");
    // The usage report is stored by the ordered quit only; it names the phone that backed up.
    std::string stored = LibraryQuery(library, "SELECT value FROM config WHERE key = 'count_data'");
    Json::Value report = JsonOf(stored);
    ASSERT_TRUE(report.isObject()) << stored;
    bool named = false;
    for (const Json::Value& device : report["devices"]) {
        named = named || device.asString() == kKey;
    }
    EXPECT_TRUE(named) << stored;
}

// The PC panel's host name and address differ between machines; the clock of the last backup
// between runs.
const ImageArea kHostAndAddress{165, 75, 275, 44};

fs::path Reference(const std::string& name) {
    return fs::path(VELLUMO_SOURCE_DIR) / "tests/ui/windows/data" / (name + ".png");
}

TEST_F(DesktopE2E, TheWholeWindowMatchesItsReferencePictures) {
    StartApp();
    Json::Value tree = TreeUntil(Shown);
    ASSERT_TRUE(Shown(tree));
    fs::path empty = StableScreenshot(tree, "main-empty");
    ASSERT_FALSE(empty.empty()) << "the window did not settle";
    ReferenceOptions options;
    options.masks = {kHostAndAddress};
    ReferenceResult result = CompareWithReference(empty, Reference("main-empty"), options);
    EXPECT_TRUE(result.matches) << result.report;

    // A phone that has finished its backup: the expanded item with its statistics and the
    // last backup's summary.
    ASSERT_EQ(PairPhone(m_app->OutputValue("pairing password")), 200);
    ASSERT_EQ(UploadOnePhoto(21, "dG9rZW4yMQ"), 200);
    tree = TreeUntil([](const Json::Value& t) {
        const Json::Value* d = FindKind(t, "CXDevInfo");
        return d != nullptr && (*d)["items"].size() == 1 &&
               (*d)["items"][0]["count"].asInt() == 1 &&
               !(*d)["items"][0]["lastTime"].asString().empty();
    });
    // Expanded by a click: the statistics, the last backup and the folder button.
    ClickElement(tree, (*FindKind(tree, "CXDevInfo"))["items"][0], 300, 20);
    tree = TreeUntil([](const Json::Value& t) {
        const Json::Value* d = FindKind(t, "CXDevInfo");
        return d != nullptr && (*d)["items"][0]["expanded"].asBool();
    });
    const Json::Value& item = (*FindKind(tree, "CXDevInfo"))["items"][0];
    fs::path paired = StableScreenshot(tree, "main-paired");
    ASSERT_FALSE(paired.empty()) << "the window did not settle";
    int left = item["rect"][0].asInt() + 135;
    int top = item["rect"][1].asInt() + 65;
    options.masks.push_back({left, top, 440 - left, 20}); // the last backup's date and time
    result = CompareWithReference(paired, Reference("main-paired"), options);
    EXPECT_TRUE(result.matches) << result.report;
}

// The settings window opened from the gear changes the pairing password and the storage
// folder of a library that already holds a phone's photo; the phone finds it at the new root.
TEST_F(DesktopE2E, TheSettingsWindowChangesPasswordAndFolderAndThePhoneFollows) {
    fs::path firstRoot = m_dir / "first-root";
    fs::path secondRoot = m_dir / "second root 照片"; // typed through the input method
    {
        VellumoProcess setup(VellumoBinaryPath(), m_dir.Path());
        ASSERT_EQ(setup.RunToEnd({"--set-root", firstRoot.string()}), 0) << setup.ErrorOutput();
    }
    fs::create_directories(secondRoot);
    StartApp();
    std::string oldPassword = m_app->OutputValue("pairing password");
    ASSERT_EQ(PairPhone(oldPassword), 200);
    ASSERT_EQ(UploadOnePhoto(21, "dG9rZW4y"), 200);
    const std::string verify = "/verify?key=" + std::string(kKey);
    ASSERT_TRUE(WaitFor([&] { return CountFiles(firstRoot / "Repos") == 1; }, 15s));

    Json::Value tree = TreeUntil(Shown);
    ClickAt(tree, 531, 25); // the gear
    tree = TreeUntil([](const Json::Value& t) {
        return t.isMember("settings") && t["settings"]["window"]["shown"].asBool();
    });
    ASSERT_TRUE(tree.isMember("settings"));
    Json::Value window = tree["settings"]["window"];
    EXPECT_EQ(window["width"].asInt(), 540);
    EXPECT_EQ(window["height"].asInt(), 405);
    std::vector<const Json::Value*> boxes;
    CollectKind(tree["settings"], "UIXEdit", boxes);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ((*boxes[0])["text"].asString(), firstRoot.string());
    EXPECT_EQ((*boxes[1])["text"].asString(), oldPassword);

    TypeInto(window, *boxes[0], secondRoot.string());
    TypeInto(window, *boxes[1], "new-pass-42");
    tree = TreeUntil([&](const Json::Value& t) {
        std::vector<const Json::Value*> b;
        CollectKind(t["settings"], "UIXEdit", b);
        return b.size() == 2 && (*b[0])["text"].asString() == secondRoot.string() &&
               (*b[1])["text"].asString() == "new-pass-42";
    });
    const Json::Value* ok = FindText(tree["settings"], "UIButton", "确定");
    ASSERT_NE(ok, nullptr);
    ClickIn(window, *ok);
    tree =
        TreeUntil([](const Json::Value& t) { return !t["settings"]["window"]["shown"].asBool(); });
    EXPECT_FALSE(tree["settings"]["window"]["shown"].asBool()) << "确定 closes the window";

    EXPECT_EQ(CountFiles(secondRoot / "Repos"), 1u);
    EXPECT_EQ(CountFiles(firstRoot / "Repos"), 0u);
    EXPECT_EQ(ReadSettingsRoot(m_app->PointerFile()), secondRoot);
    EXPECT_EQ(
        JsonOf(Phone("/auth?key=phone-2&passwd=" + oldPassword + "&type=1&modal=P").body)["status"]
            .asString(),
        "failed");
    EXPECT_EQ(JsonOf(Phone("/auth?key=phone-2&passwd=new-pass-42&type=1&modal=P").body)["status"]
                  .asString(),
              "ok");
    Json::Value known = JsonOf(Phone(verify, "[\"dG9rZW4y\"]").body);
    EXPECT_TRUE(known.isMember("dG9rZW4y")) << "the photo is known at the new root";

    // The about page: its texts, and the download code scans to the address it shows.
    ClickAt(tree, 531, 25);
    tree =
        TreeUntil([](const Json::Value& t) { return t["settings"]["window"]["shown"].asBool(); });
    window = tree["settings"]["window"];
    const Json::Value* tabs = FindKind(tree["settings"], "UITabCtrl");
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(RunTool({"xdotool", "mousemove",
                       std::to_string(window["x"].asInt() + (*tabs)["rect"][0].asInt() + 50),
                       std::to_string(window["y"].asInt() + (*tabs)["rect"][1].asInt() + 60),
                       "click", "1"}),
              0); // the second tab, "关于"
    tree = TreeUntil([](const Json::Value& t) {
        const Json::Value* about = FindKind(t["settings"], "CXConfigAbout");
        return about != nullptr && (*about)["visible"].asBool();
    });
    const Json::Value* about = FindKind(tree["settings"], "CXConfigAbout");
    ASSERT_NE(about, nullptr);
    EXPECT_NE(FindText(*about, "UILabel", "Vellumo"), nullptr);
    EXPECT_NE(FindText(*about, "UILabel", "版本号: v1.2"), nullptr);
    const Json::Value* qrButton = FindKind(*about, "UIQRBtn");
    ASSERT_NE(qrButton, nullptr);
    ASSERT_EQ(RunTool({"xdotool", "mousemove",
                       std::to_string(window["x"].asInt() + (*qrButton)["rect"][0].asInt() + 10),
                       std::to_string(window["y"].asInt() + (*qrButton)["rect"][1].asInt() + 10),
                       "click", "1"}),
              0);
    tree = TreeUntil([](const Json::Value& t) {
        const Json::Value* view = FindKind(t["settings"], "CXQRCodeView");
        return view != nullptr && (*view)["visible"].asBool();
    });
    const Json::Value* view = FindKind(tree["settings"], "CXQRCodeView");
    ASSERT_NE(view, nullptr);
    std::string address = (*view)["payload"].asString();
    EXPECT_EQ(address.rfind("http://", 0), 0u) << address;
    EXPECT_NE(address.find(":" + std::to_string(m_app->Port()) + "/"), std::string::npos);
    EXPECT_EQ(ScanWindow(tree["settings"]["window"], "about.png"), address + "\n");
}

// Without a compositor the rounded corners are cut from the window with an X shape: the main
// window's, and the settings window's too, which gets its shape while already on screen; what
// lies behind a cut corner shows through.
TEST_F(DesktopE2E, BothFramesAreCutToTheirRoundedCornersWithoutACompositor) {
    StartApp();
    Json::Value tree = TreeUntil(Shown);
    ASSERT_TRUE(Shown(tree));
    auto shaped = [&](const std::string& title) {
        std::string info;
        RunTool({"xwininfo", "-shape", "-name", title}, &info);
        return info.find("Window shape extents") != std::string::npos;
    };
    EXPECT_TRUE(WaitFor([&] { return shaped("Vellumo"); }, 10s)) << "the main window";
    fs::path behind = StableScreenshot(tree, "main-behind-settings");
    ASSERT_FALSE(behind.empty()) << "the window did not settle";

    ClickAt(tree, 531, 25); // the gear
    tree = TreeUntil([](const Json::Value& t) {
        return t.isMember("settings") && t["settings"]["window"]["shown"].asBool();
    });
    const Json::Value& main = tree["window"];
    const Json::Value& settings = tree["settings"]["window"];
    ASSERT_TRUE(settings["shown"].asBool());
    EXPECT_TRUE(WaitFor([&] { return shaped("设置"); }, 10s)) << "the settings window";

    // The settings window lies over the main window: its top-left corner pixel is the main
    // window's pixel there, not the frame's unpainted black.
    int dx = settings["x"].asInt() - main["x"].asInt();
    int dy = settings["y"].asInt() - main["y"].asInt();
    ASSERT_TRUE(dx >= 0 && dy >= 0 && dx < main["width"].asInt() && dy < main["height"].asInt());
    CHBitmap under;
    std::string underPng = ReadTestFile(behind);
    ASSERT_TRUE(under.LoadFromMemory(underPng.data(), underPng.size()));
    fs::path shot = m_dir / "settings-corner.png";
    std::string crop = "4x4+" + std::to_string(settings["x"].asInt()) + "+" +
                       std::to_string(settings["y"].asInt());
    CHBitmap corner;
    ASSERT_TRUE(WaitFor(
        [&] {
            std::string png;
            if (RunTool({"import", "-window", "root", "-crop", crop, "+repage", shot.string()}) ==
                0) {
                png = ReadTestFile(shot);
            }
            return corner.LoadFromMemory(png.data(), png.size()) &&
                   (corner.Pixel(0, 0) & 0xFFFFFF) == (under.Pixel(dx, dy) & 0xFFFFFF);
        },
        10s))
        << std::hex << "corner " << (corner.Pixel(0, 0) & 0xFFFFFF) << ", behind it "
        << (under.Pixel(dx, dy) & 0xFFFFFF);
}

} // namespace

TEST_F(DesktopE2E, AFirstStartRunsTheWizardToAPairedVellumo) {
    // Two drives from a mount table of the test's own; home is offered as well.
    fs::path diskA = m_dir / "diskA";
    fs::path diskB = m_dir / "disk B";
    fs::create_directories(diskA);
    fs::create_directories(diskB);
    std::string escapedB = (m_dir / "disk\\040B").string();
    ASSERT_TRUE(WriteTestFile(m_dir / "mounts", "1 0 8:1 / " + diskA.string() +
                                                    " rw - ext4 /dev/a rw\n2 0 8:2 / " + escapedB +
                                                    " rw - ext4 /dev/b rw\n"));
    m_app = std::make_unique<VellumoProcess>(VellumoBinaryPath(), m_dir.Path());
    m_app->SetExtraEnvironment({"DISPLAY=" + s_display,
                                "VELLUMO_UI_TREE=" + (m_dir / "tree.json").string(),
                                "VELLUMO_MOUNT_TABLE=" + (m_dir / "mounts").string()});
    ASSERT_TRUE(m_app->Start({}));
    ASSERT_TRUE(m_app->WaitForOutput("first-run wizard")) << m_app->ErrorOutput();
    EXPECT_FALSE(fs::exists(m_app->PointerFile()));

    Json::Value tree = TreeUntil([](const Json::Value& t) { return Shown(t); });
    ASSERT_EQ(tree["kind"].asString(), "CXIntroduceWnd");
    EXPECT_EQ(tree["window"]["width"].asInt(), 640);
    EXPECT_EQ(tree["window"]["height"].asInt(), 505);
    ASSERT_EQ(tree["tiles"].size(), 3u);
    const Json::Value* tileB = nullptr;
    for (const Json::Value& tile : tree["tiles"]) {
        if (tile["mount"].asString() == diskB.string()) {
            tileB = &tile;
        }
    }
    ASSERT_NE(tileB, nullptr);
    EXPECT_EQ((*tileB)["name"].asString(), "disk B");
    ClickAt(tree, (*tileB)["rect"][0].asInt() + 50, (*tileB)["rect"][1].asInt() + 50);
    const std::string chosen = (diskB / "Vellumo").string();
    tree =
        TreeUntil([&](const Json::Value& t) { return FindText(t, "UIXEdit", chosen) != nullptr; });
    ASSERT_NE(FindText(tree, "UIXEdit", chosen), nullptr);

    const Json::Value* next = FindText(tree, "UIButton", "下一步");
    ASSERT_NE(next, nullptr);
    ClickElement(tree, *next, 20, 15);
    tree = TreeUntil([](const Json::Value& t) { return t["step"].asInt() == 1; });
    ASSERT_EQ(tree["step"].asInt(), 1);
    EXPECT_EQ(ReadSettingsRoot(m_app->PointerFile()), diskB / "Vellumo");
    EXPECT_TRUE(fs::is_regular_file(diskB / "Vellumo" / "Vellumo.cfg"));
    const Json::Value* store = FindKind(tree, "CXAppstoreQR");
    ASSERT_NE(store, nullptr);
    EXPECT_NE((*store)["payload"].asString().find(std::to_string(m_app->Port())), std::string::npos)
        << (*store)["payload"].asString();
    next = FindText(tree, "UIButton", "已经下载App, 下一步");
    ASSERT_NE(next, nullptr);
    ClickElement(tree, *next, 20, 15);

    // The password box: the folder box above it is hidden from this step on.
    auto passwordBox = [](const Json::Value& t) -> const Json::Value* {
        std::vector<const Json::Value*> boxes;
        CollectKind(t, "UIXEdit", boxes);
        for (const Json::Value* b : boxes)
            if ((*b)["visible"].asBool())
                return b;
        return nullptr;
    };
    tree = TreeUntil([&](const Json::Value& t) { return passwordBox(t) != nullptr; });
    const Json::Value* box = passwordBox(tree);
    ASSERT_NE(box, nullptr);
    ClickElement(tree, *box, 20, 15);
    ASSERT_EQ(RunTool({"xdotool", "type", "--delay", "20", "tulip 42"}), 0);
    // The space is not a password character.
    tree = TreeUntil(
        [](const Json::Value& t) { return FindText(t, "UIXEdit", "tulip42") != nullptr; });
    ASSERT_NE(FindText(tree, "UIXEdit", "tulip42"), nullptr);
    const Json::Value* finish = FindText(tree, "UIButton", "开始体验");
    ASSERT_NE(finish, nullptr);
    ClickElement(tree, *finish, 20, 15);

    ASSERT_TRUE(m_app->WaitForOutput(kRunning)) << m_app->ErrorOutput();
    EXPECT_EQ(m_app->OutputValue("pairing password"), "tulip42");
    EXPECT_EQ(m_app->OutputValue("storage root"), (diskB / "Vellumo").string());
    tree = TreeUntil([](const Json::Value& t) { return Shown(t); });
    EXPECT_EQ(tree["kind"].asString(), "CMainWnd");
    EXPECT_EQ(ReadSettingsRoot(m_app->PointerFile()), diskB / "Vellumo");
    // Only exactly the typed password pairs a phone.
    Phone("/auth?key=other-phone&passwd=tulip4&type=1&modal=P");
    EXPECT_NE(Phone("/devices?key=other-phone").status, 200);
    Phone("/auth?key=" + std::string(kKey) + "&passwd=tulip42&type=1&modal=Pixel");
    EXPECT_EQ(Phone("/devices?key=" + std::string(kKey)).status, 200);
}

TEST_F(DesktopE2E, ASilentFirstStartShowsTheWizardTooAndSigtermEndsIt) {
    m_app = std::make_unique<VellumoProcess>(VellumoBinaryPath(), m_dir.Path());
    m_app->SetExtraEnvironment(
        {"DISPLAY=" + s_display, "VELLUMO_UI_TREE=" + (m_dir / "tree.json").string()});
    ASSERT_TRUE(m_app->Start({"--silence"}));
    ASSERT_TRUE(m_app->WaitForOutput("first-run wizard")) << m_app->ErrorOutput();
    Json::Value tree = TreeUntil([](const Json::Value& t) { return Shown(t); });
    EXPECT_EQ(tree["kind"].asString(), "CXIntroduceWnd");
    EXPECT_TRUE(Shown(tree));
    EXPECT_EQ(m_app->Stop(SIGTERM), 0) << m_app->ErrorOutput();
    // Nothing was chosen: the next start is a first run again.
    EXPECT_FALSE(fs::exists(m_app->PointerFile()));
}
