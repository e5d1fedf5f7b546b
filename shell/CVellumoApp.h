#pragma once
// The application object: reads the command line, keeps Vellumo to one instance, applies
// settings changed from a shell, and runs the controller core until SIGINT or SIGTERM.

#include <cstdio>
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
    std::vector<std::string> unknown; // reported, then ignored
    std::string error;                // a switch without its value; the program stops
};

class CVellumoApp {
public:
    static AppOptions ParseArguments(const std::vector<std::string>& args);
    static std::string UsageText();
    // True when no display is available (neither DISPLAY nor WAYLAND_DISPLAY is set).
    static bool NoDisplay();

    // The process's work; returns its exit status.
    int Run(const std::vector<std::string>& args);

private:
    int RunSettings(const AppOptions& options);
    int RunService(const AppOptions& options);
};
