// The updater's window on a virtual X server: it opens, shows the progress and the final text,
// counts down and closes by itself.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tests/support/WaitFor.h"
#include "tests/updater/PackageMaker.h"
#include "tests/updater/UpdateRig.h"
#include "updater/UpdaterTexts.h"

namespace {

class VirtualDisplay {
public:
    VirtualDisplay() {
        for (int number = 90 + static_cast<int>(::getpid() % 100); number < 400; ++number) {
            if (fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
                fs::exists("/tmp/.X" + std::to_string(number) + "-lock")) {
                continue;
            }
            m_name = ":" + std::to_string(number);
            m_pid = ::fork();
            if (m_pid == 0) {
                ::execlp("Xvfb", "Xvfb", m_name.c_str(), "-screen", "0", "800x600x24", "-nolisten",
                         "tcp", static_cast<char*>(nullptr));
                ::_exit(127);
            }
            break;
        }
        m_ready = m_pid > 0 && WaitFor([&] { return Command("xdpyinfo >/dev/null 2>&1") == 0; },
                                       std::chrono::seconds(20));
    }
    ~VirtualDisplay() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool Ready() const { return m_ready; }
    const std::string& Name() const { return m_name; }
    int Command(const std::string& command) const {
        return std::system(("DISPLAY=" + m_name + " " + command).c_str());
    }
    std::string Output(const std::string& command) const {
        std::string text;
        FILE* pipe = ::popen(("DISPLAY=" + m_name + " " + command).c_str(), "r");
        if (!pipe) {
            return text;
        }
        char buffer[256];
        while (std::fgets(buffer, sizeof(buffer), pipe)) {
            text += buffer;
        }
        ::pclose(pipe);
        return text;
    }

private:
    std::string m_name;
    pid_t m_pid = -1;
    bool m_ready = false;
};

TEST(Window, OpensShowsProgressAndTheFinalTextThenClosesByItself) {
    VirtualDisplay display;
    ASSERT_TRUE(display.Ready()) << "Xvfb did not start";
    UpdateRig rig;
    ASSERT_TRUE(rig.Ready());
    ASSERT_TRUE(rig.MakePackage("v2.zip",
                                {{"upgrade.cfg", R"({"files": {"Pages/index.html": 1},
                                    "lastrun": "%root%/vellumo"})"},
                                 {"Pages/index.html", "<html>new</html>"}},
                                TestPrivateKey()));
    rig.AnswerPackage("v2.zip");
    std::vector<std::string> args = rig.StandardArguments();
    args.pop_back(); // no --console: the window
    fs::path out = rig.Scratch() / "window.txt";
    pid_t fernlift = rig.StartFernlift(args, out, {"DISPLAY=" + display.Name()});
    ASSERT_GT(fernlift, 0);

    std::string windows;
    EXPECT_TRUE(WaitFor(
        [&] {
            windows = display.Output("xdotool search --name 'Vellumo在线升级' 2>/dev/null");
            return !windows.empty();
        },
        std::chrono::seconds(60)))
        << ReadTestFile(out) << ReadTestFile(out.string() + ".err");
    EXPECT_TRUE(WaitFor([&] { return ReadTestFile(out).find(texts::kDone) != std::string::npos; },
                        std::chrono::seconds(90)))
        << ReadTestFile(out) << ReadTestFile(out.string() + ".err");
    // The countdown ends the window by itself.
    int status = 0;
    EXPECT_TRUE(WaitFor([&] { return ::waitpid(fernlift, &status, WNOHANG) == fernlift; },
                        std::chrono::seconds(30)));
    std::string output = ReadTestFile(out);
    EXPECT_NE(output.find(texts::kQuerying), std::string::npos) << output;
    EXPECT_NE(output.find("progress 100"), std::string::npos) << output;
    EXPECT_NE(output.find("正在下载升级包 100%..."), std::string::npos) << output;
    EXPECT_EQ(ReadTestFile(rig.Install() / "Pages/index.html"), "<html>new</html>");
    FernliftRun run;
    run.output = output;
    if (run.StartedPid() > 0) {
        EXPECT_TRUE(UpdateRig::EndProcess(run.StartedPid()));
    }
}

} // namespace
