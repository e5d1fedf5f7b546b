#pragma once
// The main window: the skinned frame with the title and the scrolling panels, around the
// controller core. The tray, start and shutdown live in CXDesktop; this window only shows,
// hides and answers its title buttons.

#include "ui/framework/UIFrameWindow.h"
#include "ui/windows/IPanelHost.h"

#include <functional>
#include <string>

class CXContentWnd;
class UIResource;

class CMainWnd : public UIFrameWindow, public IPanelHost {
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 505;

    CMainWnd(CVellumoCore& core, UIResource& skin, CHUiDispatcher& dispatcher);
    ~CMainWnd() override;

    // Creates the (hidden) native window, centred, and builds the content from the skin.
    bool Build();
    // Without a tray icon the close button ends the program: the window could not come back.
    void SetHasTray(bool hasTray) { m_hasTray = hasTray; }
    void SetQuitHandler(std::function<void()> quit) { m_quit = std::move(quit); }
    // The settings window's call point (the gear in the title bar).
    void SetSettingsHandler(std::function<void()> open) { m_settings = std::move(open); }

    void ShowWindow();
    void HideWindow();
    // The tray's "打开Vellumo", a balloon click: shown, in front, counted.
    void OpenFromTray();
    // The icon's own gesture: shows a hidden or minimised window, hides a shown one.
    void ToggleFromTray();

    void OnSystemCommand(int command) override;

    // IPanelHost
    CVellumoCore& Core() override { return m_core; }
    CHUiDispatcher& Dispatcher() override { return m_dispatcher; }
    IResource* Skin() override;
    void RequestRelayout() override;
    bool IsWindowShown() override;

    CXContentWnd* Content() const { return m_content; }

private:
    CVellumoCore& m_core;
    UIResource& m_skin;
    CHUiDispatcher& m_dispatcher;
    CXContentWnd* m_content = nullptr;
    bool m_hasTray = false;
    bool m_relayoutQueued = false;
    std::function<void()> m_quit;
    std::function<void()> m_settings;
};
