#include "shell/CVellumoApp.h"

#ifdef VELLUMO_DESKTOP
#include "ui/windows/CXDesktop.h"
#endif

#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
#ifdef VELLUMO_DESKTOP
    // Before any thread starts, so only the desktop's signal watcher receives it.
    if (std::getenv("VELLUMO_UI_TREE") != nullptr) {
        sigset_t dump;
        sigemptyset(&dump);
        sigaddset(&dump, kTreeDumpSignal);
        pthread_sigmask(SIG_BLOCK, &dump, nullptr);
    }
    PrepareDesktopProcess();
    CVellumoApp::SetDesktopRunner(RunDesktop);
#endif
    std::vector<std::string> args(argv, argv + argc);
    CVellumoApp app;
    return app.Run(args);
}
