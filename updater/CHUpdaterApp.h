#pragma once
// Fernlift's application: reads the command line, makes sure it is the only Fernlift and that
// no earlier transaction is left unfinished, then runs the update in the console or behind the
// window, one worker thread at a time.

#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/UpdaterWindow.h"
#include "updater/CHUpdateFlow.h"

namespace fs = std::filesystem;

class CHUpdaterApp {
public:
    // What the command line asks for; false when it is unusable (Fernlift then ends silently).
    // args excludes the program name; "--console" may appear anywhere.
    bool ParseCommandLine(const std::vector<std::string>& args);
    bool ConsoleWanted() const { return m_console; }
    const UpdateTarget& Target() const { return m_target; }
    UpdateOptions& Options() { return m_options; }

    // The checks before any work: single instance, recovery of an unfinished transaction, an
    // installation the package manager owns. Returns false when Fernlift must end; the reason
    // is in `why` (empty for a silent end).
    bool Prepare(std::string& why);

    // Runs the update with lines on stdout; the exit status.
    int RunConsole();
    // Runs it behind the window made by the factory; the exit status.
    int RunWindow(
        const std::function<std::unique_ptr<IUpdaterWindow>(IUpdaterWindow::Handlers)>& factory);

private:
    UpdateTarget m_target;
    UpdateOptions m_options;
    bool m_console = false;
    std::shared_ptr<void> m_lock;
};
