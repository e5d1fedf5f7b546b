#pragma once
// The scrolling content under the title: the PC panel on top, the device panel below it, and a
// vertical scroll bar shown only when the panels are taller than the window.

#include "ui/framework/UIPane.h"

class CXDevInfo;
class CXPCInfo;
class IPanelHost;
class UIScrollBar;

class CXContentWnd : public UIPane {
public:
    static constexpr int kPcPanelHeight = 140;
    static constexpr int kPanelWidth = 630;

    explicit CXContentWnd(IPanelHost& host) : m_host(host) {}

    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    bool OnElementWheel(int steps, int x, int y) override;
    int NotifyParent(UIObject* source, int code, int id) override;
    void AfterLayout() override;

    // Places the panels for the device panel's height; shows or hides the scroll bar.
    void Relayout();
    // Scrolls to offset, clamped to 0 .. max(0, content - page).
    void ScrollTo(int offset);
    int ScrollOffset() const { return m_offset; }
    int MaxOffset() const;

    CXPCInfo* PcPanel() const { return m_pc; }
    CXDevInfo* DevicePanel() const { return m_devices; }
    UIScrollBar* ScrollBar() const { return m_scroll; }

private:
    void PlacePanels();

    IPanelHost& m_host;
    CXDevInfo* m_devices = nullptr;
    CXPCInfo* m_pc = nullptr;
    UIScrollBar* m_scroll = nullptr;
    int m_offset = 0;
};
