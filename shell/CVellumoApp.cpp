#include "shell/CVellumoApp.h"

#include "pairing/CHQrEncoder.h"
#include "pairing/PairingPayload.h"
#include "pairing/QrImage.h"
#include "pairing/WebAppLink.h"
#include "platform/Dialogs.h"
#include "platform/Version.h"
#include "shell/CSingleInstance.h"
#include "shell/CVellumoCore.h"

#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>

namespace {

constexpr int kListenWaitMs = 10000;

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// Blocked in every thread (they inherit the mask), so only sigwait in the main thread sees
// them and the shutdown runs in ordinary code.
sigset_t ShutdownSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

CVellumoApp::DesktopRunner& InstalledDesktop() {
    static CVellumoApp::DesktopRunner runner;
    return runner;
}

// Routes "show the window" requests from the single-instance thread to whoever handles them.
class ShowRequestRelay {
public:
    void Set(std::function<void()> handler) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_handler = std::move(handler);
    }
    void Fire() {
        std::function<void()> handler;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            handler = m_handler;
        }
        if (handler) {
            handler();
        }
    }

private:
    std::mutex m_lock;
    std::function<void()> m_handler;
};

} // namespace

void CVellumoApp::SetDesktopRunner(DesktopRunner runner) {
    InstalledDesktop() = std::move(runner);
}

AppOptions CVellumoApp::ParseArguments(const std::vector<std::string>& args) {
    AppOptions options;
    // Only an exact "--silence" in the first place counts, as the autostart entry writes it.
    options.silence = args.size() > 1 && args[1] == "--silence";
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--silence") {
            continue;
        } else if (arg == "--adopt") {
            options.adopt = true;
        } else if (arg == "--set-password" || arg == "--set-root") {
            if (i + 1 >= args.size()) {
                options.error = arg + " needs a value";
                return options;
            }
            if (arg == "--set-password") {
                options.setPassword = true;
                options.password = args[++i];
            } else {
                options.setRoot = true;
                options.root = args[++i];
            }
        } else {
            options.unknown.push_back(arg);
        }
    }
    if (options.adopt && !options.setRoot) {
        options.error = "--adopt goes with --set-root";
    }
    return options;
}

std::string CVellumoApp::UsageText() {
    return "Usage: vellumo [--silence] [--headless]\n"
           "       vellumo --set-password TEXT\n"
           "       vellumo --set-root DIR [--adopt]\n"
           "\n"
           "Vellumo receives the photos that the phone app backs up over the home network and\n"
           "files them in a storage folder on this computer.\n"
           "\n"
           "  --headless          run the service without windows (also chosen when neither\n"
           "                      DISPLAY nor WAYLAND_DISPLAY is set). Prints the storage\n"
           "                      folder, address, pairing password and pairing QR code, the\n"
           "                      browser app's address and its QR code, then serves until\n"
           "                      SIGINT (Ctrl+C) or SIGTERM.\n"
           "  --silence           as the first argument: start hidden (used by the start-with-\n"
           "                      the-system entry).\n"
           "  --set-password TEXT set the pairing password phones must give (1 to 20\n"
           "                      characters), then exit.\n"
           "  --set-root DIR      move the storage folder (library, Repos, Thumb) to DIR, then\n"
           "                      exit. DIR must not lie inside the current folder or contain\n"
           "                      it, nor hold another library. A failed move changes nothing.\n"
           "  --adopt             with --set-root: DIR holds a library (a reinstall, or a\n"
           "                      folder carried from another computer); use it as it is.\n"
           "                      Nothing in either folder is moved; the current folder stays.\n"
           "  --version           print the version.\n"
           "  --help              print this text.\n"
           "\n"
           "Only one Vellumo runs per user; a second start asks the first to show its window\n"
           "and exits. The settings commands refuse to run while Vellumo is running.\n"
           "\n"
           "Files:\n"
           "  $XDG_CONFIG_HOME/Vellumo/Vellumo.cfg  settings pointer: the storage folder\n"
           "  ~/Documents/Vellumo                   default storage folder\n"
           "  <storage>/Vellumo.cfg                 the library file\n"
           "  <storage>/Repos, <storage>/Thumb      the photos and their thumbnails\n"
           "\n"
           "Environment:\n"
           "  VELLUMO_PORT           HTTP port of the service (default 6639)\n"
           "  VELLUMO_UPDATE_SERVER  host:port of the update server, or \"off\" (the built-in\n"
           "                         setting is used when unset; empty means off)\n";
}

bool CVellumoApp::NoDisplay() {
    return !EnvSet("DISPLAY") && !EnvSet("WAYLAND_DISPLAY");
}

int CVellumoApp::Run(const std::vector<std::string>& args) {
    AppOptions options = ParseArguments(args);
    if (!options.error.empty()) {
        std::cerr << "vellumo: " << options.error << " (see --help)\n";
        return 2;
    }
    if (options.help) {
        std::cout << UsageText();
        return 0;
    }
    if (options.version) {
        std::cout << "Vellumo " << kVellumoVersion << "\n";
        return 0;
    }
    for (const std::string& arg : options.unknown) {
        std::cerr << "vellumo: ignoring unknown argument '" << arg << "' (see --help)\n";
    }
    if (options.setPassword || options.setRoot) {
        return RunSettings(options);
    }
    return RunService(options);
}

int CVellumoApp::RunSettings(const AppOptions& options) {
    SetHeadlessMode(true);
    if (options.setPassword && !CVellumoCore::IsValidPairingPassword(options.password)) {
        std::cerr << "vellumo: the pairing password must be 1 to 20 characters\n";
        return 2;
    }
    CSingleInstance instance;
    if (instance.Acquire() == CSingleInstance::Result::AlreadyRunning) {
        std::cerr << "vellumo: Vellumo is running (pid " << instance.RunningPid()
                  << "); stop it before changing its settings\n";
        return 1;
    }
    CoreOptions coreOptions;
    coreOptions.servicePort = CoreOptions::kNoService;
    coreOptions.startWatcher = false;
    coreOptions.checkForUpdatesAtStart = false;
    CVellumoCore core(coreOptions);
    if (!core.Start()) {
        return 1;
    }
    int status = 0;
    if (options.setPassword) {
        if (core.SetPairingPassword(options.password)) {
            std::cout << "pairing password set\n";
        } else {
            std::cerr << "vellumo: the pairing password could not be stored\n";
            status = 1;
        }
    }
    if (options.setRoot && !SetRoot(core, options)) {
        status = 1;
    }
    core.Stop();
    return status;
}

bool CVellumoApp::SetRoot(CVellumoCore& core, const AppOptions& options) {
    fs::path from = core.GetRootPath();
    std::string reason;
    CVellumoCore::RootChange result = options.adopt ? core.AdoptRoot(options.root, &reason)
                                                    : core.MoveRoot(options.root, &reason);
    if (result == CVellumoCore::RootChange::Done) {
        std::cout << "storage folder: " << core.GetRootPath().string() << "\n";
        return true;
    }
    std::cerr << "vellumo: cannot " << (options.adopt ? "use" : "move the storage folder from ")
              << (options.adopt ? "" : from.string() + " to ") << options.root << ": " << reason
              << "\n";
    if (result == CVellumoCore::RootChange::HoldsLibrary) {
        std::cerr << "vellumo: to use the library there as it is, add --adopt\n";
    }
    return false;
}

int CVellumoApp::RunService(const AppOptions& options) {
    bool desktop = !options.headless && !NoDisplay() && InstalledDesktop();
    if (!options.headless && !NoDisplay() && !desktop) {
        std::cerr << "vellumo: no desktop window in this build; running headless\n";
    }
    SetHeadlessMode(true);

    sigset_t signals = ShutdownSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A phone that drops its connection must not end the service.
    signal(SIGPIPE, SIG_IGN);

    CSingleInstance instance;
    switch (instance.Acquire()) {
    case CSingleInstance::Result::AlreadyRunning:
        instance.AskToShow();
        std::cerr << "Vellumo is already running (pid " << instance.RunningPid() << ").\n";
        return 0;
    case CSingleInstance::Result::Failed:
        std::cerr << "vellumo: cannot create " << instance.LockPath().string()
                  << "; running without the single-instance check\n";
        break;
    case CSingleInstance::Result::Acquired:
        break;
    }

    auto relay = std::make_shared<ShowRequestRelay>();
    relay->Set([] {
        std::cout << "Another start of Vellumo asked for the window; this one runs headless.\n"
                  << std::flush;
    });
    instance.Listen([relay] { relay->Fire(); });
    auto core = std::make_unique<CVellumoCore>();
    if (!core->Start()) {
        return 1;
    }
    // A library without a pairing password (a first run, or an empty library at a root that
    // already exists) gets a random one, printed below: otherwise no phone could pair.
    core->EnsurePairingPassword();
    if (core->IsFirstRun()) {
        // The first-run wizard's other work, without windows: the record of the storage folder.
        if (!core->SetRootPath(core->GetRootPath())) {
            std::cerr << "vellumo: " << core->LastRootMoveError() << "\n";
        }
    }
    int status = kNoDesktop;
    if (desktop) {
        DesktopStart start{*core, options.silence, signals, [relay](std::function<void()> handler) {
                               relay->Set(std::move(handler));
                           }};
        status = InstalledDesktop()(start);
        relay->Set({});
    }
    if (status == kNoDesktop) {
        status = RunHeadless(*core, signals);
    }
    core->Stop();
    core.reset();
    return status;
}

int CVellumoApp::RunHeadless(CVellumoCore& coreRef, const sigset_t& signalSet) {
    CVellumoCore* core = &coreRef;
    sigset_t signals = signalSet;
    int port = core->WaitServicePort(kListenWaitMs);
    if (port == 0) {
        std::cerr << "vellumo: the HTTP service is not listening; stopping\n";
        return 1;
    }

    std::string password = core->GetPairingPassword();
    std::string ip = core->GetLocalIP();
    std::string payload = BuildPairingPayload(password, ip);
    auto symbol = std::make_unique<CHQrEncoder>();
    std::string qr = symbol->Encode(payload.c_str()) ? RenderQrHalfBlocks(*symbol) : "";
    // A phone without the app opens this link in its browser; the code pairs it in one scan.
    std::string webApp = WebAppAddress(ip, port);
    std::string webLink = WebAppPairingLink(ip, port, password);
    std::string webQr;
    if (!webLink.empty()) {
        auto webSymbol = std::make_unique<CHQrEncoder>();
        webQr = webSymbol->Encode(webLink.c_str()) ? RenderQrHalfBlocks(*webSymbol) : "";
    }

    std::cout << "Vellumo " << kVellumoVersion << " running headless\n"
              << "storage root: " << core->GetRootPath().string() << "\n"
              << "address: " << (ip.empty() ? "(no network address found)" : ip) << " port " << port
              << "\n"
              << "pairing password: " << password << "\n"
              << "pairing payload: " << payload << "\n"
              << qr << "web app: " << (webApp.empty() ? "(no network address found)" : webApp)
              << "\n";
    if (!webLink.empty()) {
        std::cout << "web app pairing link: " << webLink << "\n" << webQr;
    }
    std::cout << "Stop with Ctrl+C or SIGTERM.\n" << std::flush;

    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {
    }
    std::cout << "Stopping (" << (signal == SIGINT ? "SIGINT" : "SIGTERM") << ")...\n"
              << std::flush;
    core->Stop();
    std::cout << "Vellumo stopped.\n" << std::flush;
    return 0;
}
