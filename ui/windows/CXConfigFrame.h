#pragma once
// The settings window: a skinned frame with a vertical tab control on the left and three pages
// (settings, about, help). Created hidden by the main window on first use; every showing
// reloads the settings page and centres the window over its owner. Closing only hides it.

#include "ui/framework/UIFrameWindow.h"

class CXConfig;
class CXConfigAbout;
class CXConfigHelp;
class IPanelHost;
class UITabCtrl;

class CXConfigFrame : public UIFrameWindow {
public:
    static constexpr int kWidth = 540;
    static constexpr int kHeight = 405;
    static constexpr int kSettingsTab = 100;
    static constexpr int kAboutTab = 101;
    static constexpr int kHelpTab = 102;
    static constexpr int kTabItemHeight = 40;

    explicit CXConfigFrame(IPanelHost& host);
    ~CXConfigFrame() override;

    // Builds the pages; with createWindow the native window as well (tests build without).
    bool Build(bool createWindow = true);
    // Shows the settings page with freshly read values, centred over owner (when given).
    void ShowOver(INativeWindow* owner);
    // Shows only the page of the tab id (100, 101, 102); false for another id.
    bool SelectPage(int tabId);
    int CurrentPage() const;

    int NotifyParent(UIObject* source, int code, int id) override;

    UITabCtrl* Tabs() const { return m_tabs; }
    CXConfig* SettingsPage() const { return m_settings; }
    CXConfigAbout* AboutPage() const { return m_about; }
    CXConfigHelp* HelpPage() const { return m_help; }

private:
    void CenterOver(INativeWindow* owner);

    IPanelHost& m_host;
    UITabCtrl* m_tabs = nullptr;
    CXConfig* m_settings = nullptr;
    CXConfigAbout* m_about = nullptr;
    CXConfigHelp* m_help = nullptr;
};
