#pragma once
// What the main window offers its panels: the core they show, the UI thread's dispatcher and
// the skin, and the re-layout request (posted, never run inside a worker's call).

class CHUiDispatcher;
class CVellumoCore;
class IResource;

class IPanelHost {
public:
    virtual CVellumoCore& Core() = 0;
    virtual CHUiDispatcher& Dispatcher() = 0;
    virtual IResource* Skin() = 0;
    // Recomputes the content layout on the UI thread soon.
    virtual void RequestRelayout() = 0;
    // The main window is on screen (not hidden, not minimised).
    virtual bool IsWindowShown() = 0;

protected:
    ~IPanelHost() = default;
};
