// fernlift PROGRAM VERSION PID [--console]   the updater, started by Vellumo
// fernlift --apply PACKAGE SIGNATURE PROGRAM  the apply step (possibly through pkexec)
// fernlift --recover PROGRAM                  rolls back an unfinished update
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/UpdaterWindow.h"
#include "updater/ApplyHelper.h"
#include "updater/CHUpdaterApp.h"
#include "updater/UpdaterTexts.h"

namespace {

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--apply") {
        return RunApplyHelper({args.begin() + 1, args.end()});
    }
    if (!args.empty() && args[0] == "--recover") {
        return RunRecoverHelper({args.begin() + 1, args.end()});
    }
    CHUpdaterApp app;
    if (!app.ParseCommandLine(args)) {
        return 0; // started wrongly: end at once, without a window
    }
    std::string why;
    if (!app.Prepare(why)) {
        if (!why.empty()) {
            std::cerr << "fernlift: " << why << "\n";
        }
        std::cout << texts::kNoUpdate << std::endl;
        return 0;
    }
    if (app.ConsoleWanted() || !HasDisplay()) {
        return app.RunConsole();
    }
    return app.RunWindow([](IUpdaterWindow::Handlers handlers) {
        return CreateUpdaterWindow(texts::kTitle, std::move(handlers));
    });
}
