#include "updater/CHUpdaterApp.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "platform/Folders.h"
#include "updater/CHHelperProcess.h"
#include "updater/CHInstallTransaction.h"
#include "updater/InstallGuard.h"
#include "updater/ProcessControl.h"
#include "updater/SafePaths.h"
#include "updater/UpdaterTexts.h"

namespace {

constexpr int kCountdownStart = 5;

class ConsoleView : public IUpdateView {
public:
    void ShowStatus(const std::string& text) override { Line(text); }
    void ShowProgress(int percent) override { Line("progress " + std::to_string(percent)); }
    void ProgramStarted(const fs::path& program, pid_t pid) override {
        Line("started " + std::to_string(pid) + " " + program.string());
    }

private:
    void Line(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_lock);
        std::cout << text << std::endl;
    }
    std::mutex m_lock;
};

// Forwards the run's events to the window on its UI thread.
class WindowView : public IUpdateView {
public:
    explicit WindowView(IUpdaterWindow& window) : m_window(window) {}
    void ShowStatus(const std::string& text) override {
        m_window.Post([this, text] { m_window.SetStatus(text); });
    }
    void ShowProgress(int percent) override {
        m_window.Post([this, percent] { m_window.SetProgress(percent); });
    }
    void ApplyStarted() override { m_applying = true; }
    void ApplyEnded() override {
        m_applying = false;
        if (m_closeWanted) {
            m_window.Post([this] { m_window.Quit(); });
        }
    }
    void ProgramStarted(const fs::path& program, pid_t pid) override {
        std::cout << "started " << pid << " " << program.string() << std::endl;
    }
    // Closing while the installation changes waits for the commit or the rollback.
    bool MayCloseNow() {
        m_closeWanted = true;
        return !m_applying;
    }

private:
    IUpdaterWindow& m_window;
    std::atomic<bool> m_applying{false};
    std::atomic<bool> m_closeWanted{false};
};

bool RecoverWithHelper(const UpdateOptions& options, const fs::path& program) {
    std::vector<std::string> argv = options.elevator;
    argv.insert(argv.end(), {options.helper.string(), "--recover", program.string()});
    CHHelperProcess helper;
    std::string line;
    bool recovered = helper.Start(argv) && helper.ReadLine(line) && line == "recovered";
    helper.CloseInput();
    helper.Wait();
    return recovered;
}

} // namespace

bool CHUpdaterApp::ParseCommandLine(const std::vector<std::string>& args) {
    std::vector<std::string> plain;
    for (const std::string& arg : args) {
        if (arg == "--console") {
            m_console = true;
        } else {
            plain.push_back(arg);
        }
    }
    if (plain.size() < 3 || plain[1].empty()) {
        return false;
    }
    std::error_code ec;
    fs::path program = fs::absolute(plain[0], ec).lexically_normal();
    if (ec || !fs::is_regular_file(program, ec) || program.filename().empty()) {
        return false;
    }
    pid_t pid = ParseProcessId(plain[2]);
    if (pid < 0) {
        return false;
    }
    m_target.program = program;
    m_target.version = plain[1];
    m_target.pid = pid;
    m_options.helper = GetModulePath();
    return true;
}

bool CHUpdaterApp::Prepare(std::string& why) {
    auto lock = std::make_shared<CHRunLock>();
    if (!lock->Acquire()) {
        why = "another Fernlift is running";
        return false;
    }
    m_lock = lock;
    fs::path root = m_target.program.parent_path();
    std::error_code ec;
    if (fs::exists(root / kBackupFolderName, ec)) {
        bool recovered =
            ::access(root.c_str(), W_OK) == 0
                ? CHInstallTransaction::Recover(root) != CHInstallTransaction::Recovery::Failed
                : RecoverWithHelper(m_options, m_target.program);
        if (!recovered) {
            why = "an unfinished update of this installation cannot be rolled back";
            return false;
        }
    }
    std::string refusal = RefuseInstallReason(m_target.program);
    if (!refusal.empty()) {
        why = refusal + "; the package manager updates it";
        return false;
    }
    return true;
}

int CHUpdaterApp::RunConsole() {
    ConsoleView view;
    CHUpdateFlow flow(m_target, m_options, view);
    // SIGINT and SIGTERM stop the run at its next safe point instead of killing it mid-way.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        timespec wait{0, 100 * 1000 * 1000};
        while (!finished) {
            if (sigtimedwait(&stops, nullptr, &wait) > 0) {
                flow.Cancel();
            }
        }
    });
    CHUpdateFlow::Outcome outcome = flow.Run();
    finished = true;
    watcher.join();
    return outcome == CHUpdateFlow::Outcome::Failed ? 1 : 0;
}

int CHUpdaterApp::RunWindow(
    const std::function<std::unique_ptr<IUpdaterWindow>(IUpdaterWindow::Handlers)>& factory) {
    std::unique_ptr<IUpdaterWindow> window;
    std::unique_ptr<WindowView> view;
    std::unique_ptr<CHUpdateFlow> flow;
    std::thread worker;
    std::atomic<bool> running{false};
    bool finished = false;
    int countdown = kCountdownStart;
    int status = 0;
    std::string buttonText = texts::kClose;

    auto joinWorker = [&] {
        if (worker.joinable()) {
            worker.join();
        }
    };
    std::function<void()> onButton = [&] {
        if (running) {
            return;
        }
        joinWorker();
        if (finished) {
            window->Quit();
            return;
        }
        window->SetButton(buttonText, false); // the text stays: "关闭", or "重试" on a retry
        window->SetProgress(0);
        running = true;
        worker = std::thread([&] {
            CHUpdateFlow::Outcome outcome = flow->Run();
            window->Post([&, outcome] {
                running = false;
                finished = outcome != CHUpdateFlow::Outcome::Failed;
                status = finished ? 0 : 1;
                buttonText = finished ? texts::kClose : texts::kRetry;
                window->SetButton(buttonText, true);
                if (outcome != CHUpdateFlow::Outcome::Done) {
                    return;
                }
                window->StartTimer(1000, [&] {
                    if (countdown >= 0) {
                        char text[64];
                        std::snprintf(text, sizeof(text), texts::kCloseCountdown, texts::kClose,
                                      static_cast<long>(countdown--));
                        window->SetButton(text, true);
                        return true;
                    }
                    onButton();
                    return false;
                });
            });
        });
    };
    IUpdaterWindow::Handlers handlers;
    handlers.onButton = [&] { onButton(); };
    handlers.onCloseRequest = [&] {
        if (!view->MayCloseNow()) {
            return false;
        }
        flow->Cancel();
        return true;
    };
    window = factory(handlers);
    if (!window) {
        return RunConsole();
    }
    view = std::make_unique<WindowView>(*window);
    flow = std::make_unique<CHUpdateFlow>(m_target, m_options, *view);
    window->SetButton(texts::kClose, false);
    window->SetStatus(texts::kQuerying);
    onButton();
    window->Run();
    flow->Cancel();
    joinWorker();
    return status;
}
