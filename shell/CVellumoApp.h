#pragma once
// The application object: reads the command line, keeps Vellumo to one instance, applies
// settings changed from a shell, and runs the controller core until SIGINT or SIGTERM.

#include <signal.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct AppOptions {
    bool help = false;
    bool version = false;
    bool headless = false;
    bool silence = false; // "--silence" as the first argument: start hidden in the tray
    bool setPassword = false;
    std::string password;
    bool setRoot = false;
    std::string root;
    bool adopt = false;               // with --set-root: use the library already there as it is
    std::vector<std::string> unknown; // reported, then ignored
    std::string error;                // a switch without its value; the program stops
};

class CSingleInstance;
class CVellumoCore;

// What the desktop start receives from the application: the started core, whether to start
// hidden, the shutdown signals (blocked in every thread) and a way to route the "show the
// window" requests of later starts.
struct DesktopStart {
    CVellumoCore& core;
    bool silence = false;
    sigset_t signals;
    std::function<void(std::function<void()>)> setShowHandler;
};

class CVellumoApp {
public:
    // The desktop front end, installed by the program that links it; it returns the exit
    // status, or kNoDesktop when no display could be opened (the service then runs headless).
    // Without one, vellumo runs headless.
    static constexpr int kNoDesktop = -1;
    using DesktopRunner = std::function<int(DesktopStart&)>;
    static void SetDesktopRunner(DesktopRunner runner);

    static AppOptions ParseArguments(const std::vector<std::string>& args);
    static std::string UsageText();
    // True when no display is available (neither DISPLAY nor WAYLAND_DISPLAY is set).
    static bool NoDisplay();

    // The process's work; returns its exit status.
    int Run(const std::vector<std::string>& args);

private:
    int RunSettings(const AppOptions& options);
    // --set-root: moves or adopts; false (with the reason on stderr) when refused or failed.
    static bool SetRoot(CVellumoCore& core, const AppOptions& options);
    int RunService(const AppOptions& options);
    int RunHeadless(CVellumoCore& core, const sigset_t& signals);
};
