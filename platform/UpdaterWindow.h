#pragma once
// The updater's small window: a decorated top-level window with a progress bar, a status line
// and one button. platform/ declares it; the GTK backend (platform/gtk) builds it, so the
// updater's code stays free of toolkit headers. All calls except Post come from the UI thread.

#include <functional>
#include <memory>
#include <string>

class IUpdaterWindow {
public:
    struct Handlers {
        std::function<void()> onButton;
        // Asked when the user closes the window; false keeps it open.
        std::function<bool()> onCloseRequest;
    };

    virtual ~IUpdaterWindow() = default;
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetProgress(int percent) = 0;
    virtual void SetButton(const std::string& text, bool enabled) = 0;
    // Runs the task on the UI thread; callable from any thread.
    virtual void Post(std::function<void()> task) = 0;
    // Calls tick every periodMs on the UI thread until it returns false.
    virtual void StartTimer(int periodMs, std::function<bool()> tick) = 0;
    // Shows the window and runs the UI loop until Quit.
    virtual void Run() = 0;
    virtual void Quit() = 0;
};

// The toolkit's window, or null when no display can be opened. Defined by the GTK backend.
std::unique_ptr<IUpdaterWindow> CreateUpdaterWindow(const std::string& title,
                                                    IUpdaterWindow::Handlers handlers);
