// Real windows under a private Xvfb server: a window built from the built-in skin opens at its
// size, one synthetic click gives one notification, dragging the title band moves the window,
// and what reaches the screen matches a stored reference picture.

#include "platform/gtk/GtkPlatform.h"
#include "tests/support/TestDirs.h"
#include "ui/framework/UIButton.h"
#include "ui/framework/UIFrameWindow.h"
#include "ui/framework/UIPane.h"
#include "ui/framework/UIResource.h"
#include "ui/framework/UISkinText.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

constexpr int kWidth = 640, kHeight = 505;
constexpr int kLeft = 100, kTop = 100;
constexpr int kButtonId = 4242;

pid_t Spawn(const std::vector<std::string>& args, int stdoutFd = -1, int keepFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    if (keepFd >= 0 && keepFd != 3)
        posix_spawn_file_actions_adddup2(&actions, keepFd, 3);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit status once the process has ended, -1 while it runs.
int Reap(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

class TestWindow : public UIFrameWindow {
public:
    int NotifyParent(UIObject* source, int code, int id) override {
        if (code == kNotifyCommand && id == kButtonId)
            ++clicks;
        return UIFrameWindow::NotifyParent(source, code, id);
    }
    bool OnElementLButtonDown(int, int) override {
        ++presses;
        return false;
    }
    int clicks = 0;
    int presses = 0;
    int paints = 0;

protected:
    NativePixels OnPaint(const NativeRect& dirty) override {
        ++paints;
        return UIFrameWindow::OnPaint(dirty);
    }
};

class DesktopX11 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        // Xvfb picks a free display itself and writes its number to descriptor 3.
        s_xvfb = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten",
                        "tcp", "-br", "-noreset"},
                       -1, fds[1]);
        close(fds[1]);
        ASSERT_GT(s_xvfb, 0) << "Xvfb is not installed (package xvfb)";
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        setenv("DISPLAY", (":" + number).c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
        s_platform = CreateGtkPlatform().release();
        ASSERT_NE(s_platform, nullptr);
        SetNativePlatform(s_platform);
    }

    static void TearDownTestSuite() {
        SetNativePlatform(nullptr);
        delete s_platform;
        s_platform = nullptr;
        if (s_xvfb > 0) {
            kill(s_xvfb, SIGTERM);
            waitpid(s_xvfb, nullptr, 0);
        }
    }

    void SetUp() override {
        ASSERT_NE(s_platform, nullptr);
        std::string package = std::string(VELLUMO_BINARY_DIR) + "/resources/vellumo.uir";
        ASSERT_TRUE(m_skin.LoadFromFile(package))
            << "the built skin package is missing: " << package;
        SetDefaultUiFont(m_skin.GetDefaultFont());
        // A steady tick so waiting loops wake up even when X sends nothing.
        m_tick = s_platform->StartTimer(10, [] {});
        ASSERT_TRUE(m_window.Create(kWidth, kHeight));
        m_window.ApplySkin(&m_skin, "MainWindow");
        auto* title = m_window.Add<UIPane>();
        title->ApplySkin(&m_skin, "MainWindow/Title");
        title->SetLayout(13, 6, 94, 34);
        m_button = m_window.Add<UIButton>();
        m_button->ApplySkin(&m_skin, "Buttons/Button");
        m_button->SetLayout(440, 100, 115, 35);
        m_button->SetText("打开文件夹");
        m_button->SetId(kButtonId);
        m_window.Native()->Move(kLeft, kTop);
        m_window.Native()->Show();
        ASSERT_TRUE(Pump([&] {
            return m_window.paints > 0 && WindowAt() == NativeRect{kLeft, kTop, kWidth, kHeight};
        })) << "the window was not shown and painted";
    }

    void TearDown() override {
        if (s_platform)
            s_platform->StopTimer(m_tick);
    }

    // Runs the UI loop until done() or 10 s pass.
    bool Pump(const std::function<bool()>& done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        s_platform->RunNestedUntil(
            [&] { return done() || std::chrono::steady_clock::now() > deadline; });
        return done();
    }

    // Runs a tool while the UI loop keeps going; its exit status.
    int RunTool(const std::vector<std::string>& args, std::string* output = nullptr) {
        TempDir dir("vellumo-x11");
        fs::path out = dir / "out";
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = Spawn(args, fd);
        close(fd);
        if (pid <= 0) {
            ADD_FAILURE() << "cannot start " << args[0];
            return -1;
        }
        int status = -1;
        Pump([&] {
            if (status < 0)
                status = Reap(pid);
            return status >= 0;
        });
        if (status < 0) {
            ADD_FAILURE() << args[0] << " did not end";
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (output)
            *output = ReadTestFile(out);
        return status;
    }

    // Where X has the window: position and size as the server reports them.
    NativeRect WindowAt() {
        NativeRect frame = m_window.Native()->Frame();
        return frame;
    }

    // Lets the loop run a little longer, for events that should not come.
    void Settle() {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        Pump([&] { return std::chrono::steady_clock::now() > until; });
    }

    std::string Xdo(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        std::string out;
        EXPECT_EQ(RunTool(args, &out), 0) << args[1];
        return out;
    }

    // Every channel within a small distance on nearly all pixels (fonts may differ by a shade
    // at glyph edges). VELLUMO_UPDATE_REFERENCE=1 stores the screen as the new reference.
    void CheckScreenAgainstReference();

    static pid_t s_xvfb;
    static INativePlatform* s_platform;
    UIResource m_skin;
    TestWindow m_window;
    UIButton* m_button = nullptr;
    uint64_t m_tick = 0;
};

pid_t DesktopX11::s_xvfb = -1;
INativePlatform* DesktopX11::s_platform = nullptr;

void DesktopX11::CheckScreenAgainstReference() {
    Xdo({"mousemove", "5", "5"}); // no hover look
    Settle();
    TempDir dir("vellumo-shot");
    fs::path shot = dir / "shot.png";
    std::string crop = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "+" +
                       std::to_string(kLeft) + "+" + std::to_string(kTop);
    ASSERT_EQ(RunTool({"import", "-window", "root", "-crop", crop, "+repage", shot.string()}), 0)
        << "import (package imagemagick) failed";
    std::string bytes = ReadTestFile(shot);
    CHBitmap actual;
    ASSERT_TRUE(actual.LoadFromMemory(bytes.data(), bytes.size()));
    fs::path reference = fs::path(VELLUMO_SOURCE_DIR) / "tests/ui/framework/data/skin-window.png";
    if (getenv("VELLUMO_UPDATE_REFERENCE")) {
        ASSERT_TRUE(WriteTestFile(reference, bytes));
        return;
    }
    std::string stored = ReadTestFile(reference);
    CHBitmap expected;
    ASSERT_TRUE(expected.LoadFromMemory(stored.data(), stored.size())) << reference;
    ASSERT_EQ(actual.Width(), expected.Width());
    ASSERT_EQ(actual.Height(), expected.Height());
    int off = 0;
    int64_t total = 0;
    for (int y = 0; y < actual.Height(); ++y) {
        for (int x = 0; x < actual.Width(); ++x) {
            uint32_t a = actual.Pixel(x, y), e = expected.Pixel(x, y);
            int worst = 0;
            for (int shift = 0; shift < 24; shift += 8)
                worst =
                    std::max(worst, std::abs(int((a >> shift) & 0xFF) - int((e >> shift) & 0xFF)));
            total += worst;
            if (worst > 40)
                ++off;
        }
    }
    int pixels = actual.Width() * actual.Height();
    EXPECT_LT(off, pixels / 200) << off << " pixels differ";
    EXPECT_LT(total / pixels, 3) << "mean difference";
}

// One window, checked in order: size and place, the screen, a click, a drag (which moves it).
// A single test keeps to one X server and one GTK start-up.
TEST_F(DesktopX11, ASkinnedWindowOpensClicksDragsAndLooksAsStored) {
    {
        SCOPED_TRACE("opens at its size");
        std::string geometry =
            Xdo({"search", "--sync", "--name", "^Vellumo$", "getwindowgeometry"});
        EXPECT_NE(geometry.find("Geometry: 640x505"), std::string::npos) << geometry;
        EXPECT_NE(geometry.find("Position: 100,100"), std::string::npos) << geometry;
    }
    {
        SCOPED_TRACE("matches the reference picture");
        CheckScreenAgainstReference();
    }
    {
        SCOPED_TRACE("one click, one notification");
        int x = kLeft + 440 + 50, y = kTop + 100 + 17;
        Xdo({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
        EXPECT_TRUE(Pump([&] { return m_window.clicks > 0; }));
        Settle();
        EXPECT_EQ(m_window.clicks, 1);
    }
    {
        SCOPED_TRACE("the title band drags the window");
        int x = kLeft + 300, y = kTop + 20;
        Xdo({"mousemove", std::to_string(x), std::to_string(y), "mousedown", "1"});
        Settle();
        Xdo({"mousemove", std::to_string(x + 40), std::to_string(y + 30)});
        Settle();
        Xdo({"mousemove", std::to_string(x + 80), std::to_string(y + 60)});
        Settle();
        Xdo({"mouseup", "1"});
        EXPECT_TRUE(Pump([&] {
            NativeRect at = WindowAt();
            return at.x == kLeft + 80 && at.y == kTop + 60;
        })) << "window at "
            << WindowAt().x << "," << WindowAt().y;
        EXPECT_EQ(m_window.clicks, 1); // the drag clicked nothing
    }
}

} // namespace
