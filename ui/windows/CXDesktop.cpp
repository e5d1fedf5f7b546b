#include "ui/windows/CXDesktop.h"

#include "pairing/PairingPayload.h"
#include "platform/Dialogs.h"
#include "platform/DriveList.h"
#include "platform/Resources.h"
#include "platform/UiDispatcher.h"
#include "platform/gtk/GtkDesktop.h"
#include "platform/gtk/GtkLeakSuppressions.h"
#include "platform/gtk/GtkPlatform.h"
#include "resources/BuiltInResources.h"
#include "shell/CVellumoCore.h"
#include "ui/framework/UIResource.h"
#include "ui/framework/UISkinPaths.h"
#include "ui/framework/UISkinText.h"
#include "ui/windows/CMainWnd.h"
#include "ui/windows/CXConfigFrame.h"
#include "ui/windows/CXContentWnd.h"
#include "ui/windows/CXIntroduceWnd.h"
#include "ui/windows/CXPCInfo.h"
#include "ui/windows/PanelText.h"
#include "ui/windows/UiTreeDump.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <thread>

namespace {

constexpr int kTrayIconSize = 22;

// Waits for the shutdown signals (and the tree-dump signal) on a thread of its own and hands
// them to the UI thread. Stopped through an eventfd, so it never wakes up for nothing.
class SignalWatch {
public:
    SignalWatch(const sigset_t& signals, std::function<void(int)> onSignal)
        : m_onSignal(std::move(onSignal)) {
        m_signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
        m_stopFd = eventfd(0, EFD_CLOEXEC);
        if (m_signalFd >= 0 && m_stopFd >= 0) {
            m_thread = std::thread([this] { Run(); });
        }
    }
    ~SignalWatch() {
        if (m_thread.joinable()) {
            uint64_t one = 1;
            [[maybe_unused]] ssize_t n = write(m_stopFd, &one, sizeof one);
            m_thread.join();
        }
        for (int fd : {m_signalFd, m_stopFd}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

private:
    void Run() {
        pollfd fds[2] = {{m_signalFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) {
                continue;
            }
            if (fds[1].revents != 0) {
                return;
            }
            signalfd_siginfo info{};
            if (read(m_signalFd, &info, sizeof info) == sizeof info) {
                m_onSignal(static_cast<int>(info.ssi_signo));
            }
        }
    }

    std::function<void(int)> m_onSignal;
    int m_signalFd = -1;
    int m_stopFd = -1;
    std::thread m_thread;
};

std::vector<uint8_t> TrayIconPng() {
    std::string bytes;
    LoadResourceBytes(SkinPaths::kTrayIconResourceType, kTrayIconSize, bytes);
    return {bytes.begin(), bytes.end()};
}

// Everything the desktop made, destroyed in the order of the shutdown.
struct Desktop {
    CVellumoCore& core;
    std::unique_ptr<INativePlatform> platform;
    std::unique_ptr<UIResource> skin;
    std::unique_ptr<CMainWnd> window;
    std::unique_ptr<CXConfigFrame> settings; // made on the first use of the gear
    std::unique_ptr<ITrayIcon> tray;
    std::unique_ptr<IDesktopNotifier> notifier;
    std::string trayTip = "Vellumo";
    UIObject* wizard = nullptr; // the first-run wizard while it runs

    void WriteTree() {
        const char* path = std::getenv("VELLUMO_UI_TREE");
        if (path == nullptr || path[0] == '\0' || !window) {
            return;
        }
        std::string tree = DumpElementTree(wizard != nullptr ? *wizard : *window);
        // The tray as well, spliced in as the object's last member.
        std::string kind = !tray                                      ? "none"
                           : tray->Kind() == TrayKind::StatusNotifier ? "statusnotifier"
                                                                      : "xembed";
        tree.resize(tree.size() - 2); // "}\n"
        tree += ",\"tray\":\"" + kind + "\"";
        if (settings) {
            std::string settingsTree = DumpElementTree(*settings);
            settingsTree.pop_back();
            tree += ",\"settings\":" + settingsTree;
        }
        tree += "}\n";
        std::string temp = std::string(path) + ".part";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out << tree;
        }
        std::rename(temp.c_str(), path);
    }

    void Quit() { platform->QuitLoop(); }

    void OpenSettings() {
        if (!settings) {
            auto frame = std::make_unique<CXConfigFrame>(*window);
            if (!frame->Build()) {
                ShowMessage("Vellumo", "设置窗口无法打开。");
                return;
            }
            // Kept above the main window, and told apart from it by its title.
            frame->Native()->SetTransientFor(window->HostWindow());
            frame->Native()->SetTitle("设置");
            settings = std::move(frame);
        }
        settings->ShowOver(window->HostWindow());
    }

    void InstallTray() {
        TrayIconOptions options;
        options.tip = trayTip;
        options.iconPng = TrayIconPng();
        CMainWnd* wnd = window.get();
        options.menu = {
            {"打开Vellumo", [wnd] { wnd->OpenFromTray(); }},
            {"", {}},
            {"检查更新", [this] { core.CheckForUpdates(false); }},
            {"", {}},
            {"退出", [this] { Quit(); }},
        };
        options.activate = [wnd] { wnd->ToggleFromTray(); };
        tray = CreateGtkTrayIcon(options);
        window->SetHasTray(tray != nullptr);
        notifier = CreateGtkNotifier("Vellumo");
    }

    // Tips and balloons come from worker threads: copied into UI tasks.
    void RouteTrayTexts() {
        CHUiDispatcher& ui = platform->Dispatcher();
        core.SetTrayHandlers(
            [this, &ui](const std::string& tip) {
                std::string cut = CutToChars(tip, kTrayTipChars);
                ui.Post([this, cut] {
                    trayTip = cut;
                    if (tray) {
                        tray->SetTip(cut);
                    }
                });
            },
            [this, &ui](const std::string& title, const std::string& text) {
                std::string t = CutToChars(title, kBalloonTitleChars);
                std::string b = CutToChars(text, kBalloonTextChars);
                return ui.Post([this, t, b] {
                    if (notifier) {
                        CMainWnd* wnd = window.get();
                        notifier->Notify(t, b, [wnd] { wnd->OpenFromTray(); });
                    }
                });
            });
        core.SetBusyListener([this, &ui](bool busy) {
            ui.Post([this, busy] { window->Content()->PcPanel()->SetBusy(busy); });
        });
    }

    // The X display is gone (its server ended with the session): the ordered quit without
    // the windows, which can no longer be touched. The process ends when this returns.
    int StopWithoutDisplay() {
        std::cerr << "vellumo: the display is gone; stopping\n";
        core.SetTrayHandlers({}, {});
        core.SetBusyListener({});
        ReleaseGtkDialogWaiters();
        core.Stop();
        if (platform) { // null when the display went away late in Shutdown
            platform->Dispatcher().Shutdown();
        }
        std::cout << "Vellumo stopped.\n" << std::flush;
        return 0;
    }

    void Shutdown() {
        // Nothing may still reach the windows from a worker, and no worker may stay blocked
        // on a dialog while it is joined.
        core.SetTrayHandlers({}, {});
        core.SetBusyListener({});
        CloseGtkDialogs();
        core.Stop();
        platform->Dispatcher().Shutdown();
        tray.reset();
        notifier.reset();
        settings.reset(); // its pages use the main window as their host
        window.reset();
        SetDefaultUiFont(nullptr);
        skin.reset();
        SetNativePlatform(nullptr);
        platform.reset();
    }
};

// The same lines as headless mode, for whoever started the program from a terminal.
void PrintPairing(CVellumoCore& core) {
    int port = core.WaitServicePort(10000);
    std::string password = core.GetPairingPassword();
    std::cout << "storage root: " << core.GetRootPath().string() << "\n"
              << "port: " << port << "\n"
              << "pairing password: " << password << "\n"
              << "pairing payload: " << BuildPairingPayload(password, core.GetLocalIP()) << "\n";
}

// The first run: the wizard, modal over the (still hidden) main window. False when a quit of the
// whole program ended it.
bool RunFirstRunWizard(Desktop& desktop, CHUiDispatcher& ui) {
    CXIntroduceWnd wizard(desktop.core, *desktop.skin, ui, ListSystemDrives());
    wizard.Build();
    desktop.wizard = &wizard;
    // Runs inside the wizard's loop, once the window is up.
    ui.Post([] { std::cout << "Vellumo shows the first-run wizard.\n" << std::flush; });
    bool finished = wizard.Run(desktop.window.get());
    desktop.wizard = nullptr;
    return finished;
}

// Runs the windows until the program quits: the wizard on a first run, then the main window,
// with the shutdown signals (and the tree dump) watched throughout.
void RunWindows(Desktop& desktop, DesktopStart& start, CHUiDispatcher& ui) {
    sigset_t watched = start.signals;
    if (std::getenv("VELLUMO_UI_TREE") != nullptr) {
        sigaddset(&watched, kTreeDumpSignal);
    }
    SignalWatch signals(watched, [&ui, &desktop](int signal) {
        if (signal == kTreeDumpSignal) {
            ui.Post([&desktop] { desktop.WriteTree(); });
        } else {
            ui.Post([&desktop] { desktop.Quit(); });
        }
    });
    // Also with --silence: the storage folder and password are chosen before anything else.
    bool quit = start.core.IsFirstRun() && !RunFirstRunWizard(desktop, ui);
    // After the wizard: the tray's items open the main window, which waits for the wizard (and
    // the session bus the tray connects to can take a while to reach).
    desktop.InstallTray();
    start.setShowHandler(
        [&ui, &desktop] { ui.Post([&desktop] { desktop.window->ShowWindow(); }); });
    // Without a tray icon a silent start stays windowless until a second start shows it.
    if (!start.silence && !quit) {
        desktop.window->ShowWindow();
    }
    start.core.Hub().NotifyDeviceStats("localhost");
    if (!quit) {
        PrintPairing(start.core);
        std::cout << "Vellumo is running with its window.\n" << std::flush;
        desktop.platform->RunLoop();
    }
}

} // namespace

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
extern "C" const char* __lsan_default_suppressions() {
    return kGtkLeakSuppressions;
}
#endif
#endif

void PrepareDesktopProcess() {
    PrepareGtkEnvironment();
}

int RunDesktop(DesktopStart& start) {
    auto platform = CreateGtkPlatform();
    if (!platform) {
        return CVellumoApp::kNoDesktop;
    }
    Desktop desktop{start.core, std::move(platform), nullptr, nullptr, nullptr, nullptr, nullptr};
    SetNativePlatform(desktop.platform.get());
    SetHeadlessMode(false);
    InstallGtkDialogBackend();
    InstallGtkPopupMenus();
    RegisterBuiltInResources();
    desktop.skin = std::make_unique<UIResource>();
    if (!desktop.skin->LoadFromModule(nullptr, kSkinResourceType, kSkinResourceId)) {
        std::cerr << "vellumo: the built-in skin cannot be read\n";
        desktop.Shutdown();
        return 1;
    }
    SetDefaultUiFont(desktop.skin->GetDefaultFont());
    CHUiDispatcher& ui = desktop.platform->Dispatcher();
    desktop.RouteTrayTexts();
    desktop.window = std::make_unique<CMainWnd>(start.core, *desktop.skin, ui);
    if (!desktop.window->Build()) {
        std::cerr << "vellumo: the main window cannot be created\n";
        desktop.Shutdown();
        return 1;
    }
    desktop.window->SetQuitHandler([&desktop] { desktop.Quit(); });
    desktop.window->SetSettingsHandler([&desktop] { desktop.OpenSettings(); });
    SetGtkDisplayLostHandler([&desktop] { return desktop.StopWithoutDisplay(); });
    RunWindows(desktop, start, ui);
    start.setShowHandler({});
    desktop.Shutdown();
    SetGtkDisplayLostHandler({});
    std::cout << "Vellumo stopped.\n" << std::flush;
    return 0;
}
