#include "ui/windows/CXContentWnd.h"

#include "ui/framework/UIScrollBar.h"
#include "ui/windows/CXDevInfo.h"
#include "ui/windows/CXPCInfo.h"

#include <algorithm>

bool CXContentWnd::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    UIPane::ApplySkin(resource, path, start);
    m_devices = Add<CXDevInfo>(m_host);
    m_pc = Add<CXPCInfo>(m_host);
    m_scroll = Add<UIScrollBar>(true);
    m_scroll->ApplySkin(resource, "ScrollBar/Vertical");
    m_scroll->SetLayout(-20, 5, 13, 438);
    m_scroll->Show(false);
    m_pc->ApplySkin(resource, "");
    m_devices->ApplySkin(resource, "");
    Relayout();
    return true;
}

int CXContentWnd::MaxOffset() const {
    int page = Rect().bottom - Rect().top;
    int total = (m_devices ? m_devices->ContentHeight() : 0) + kPcPanelHeight;
    return std::max(0, total - page);
}

void CXContentWnd::AfterLayout() {
    UIPane::AfterLayout();
    if (m_devices != nullptr) {
        Relayout();
    }
}

void CXContentWnd::Relayout() {
    if (m_devices == nullptr) {
        return;
    }
    int page = Rect().bottom - Rect().top;
    int total = m_devices->ContentHeight() + kPcPanelHeight;
    if (page > 0 && page < total) {
        m_scroll->SetRange(0, total);
        m_scroll->SetPage(page);
        m_scroll->Show(true);
    } else {
        m_scroll->Show(false);
    }
    ScrollTo(m_offset);
}

void CXContentWnd::ScrollTo(int offset) {
    m_offset = std::clamp(offset, 0, MaxOffset());
    if (m_scroll != nullptr) {
        m_scroll->SetPos(m_offset);
    }
    PlacePanels();
    Invalidate();
}

void CXContentWnd::PlacePanels() {
    const CHRect& r = Rect();
    int top = r.top - m_offset;
    m_pc->MoveTo({r.left, top, r.left + kPanelWidth, top + kPcPanelHeight});
    int deviceTop = top + kPcPanelHeight;
    m_devices->MoveTo(
        {r.left, deviceTop, r.left + kPanelWidth, deviceTop + m_devices->ContentHeight()});
}

bool CXContentWnd::OnElementWheel(int steps, int, int) {
    if (m_scroll == nullptr || !m_scroll->IsVisible()) {
        return false;
    }
    ScrollTo(UIScrollBar::WheelPosition(m_scroll->Min(), m_scroll->Max(), m_scroll->Page(),
                                        m_offset, steps));
    return true;
}

int CXContentWnd::NotifyParent(UIObject* source, int code, int id) {
    if (code != kNotifyVScroll || source != m_scroll) {
        return UIPane::NotifyParent(source, code, id);
    }
    int page = m_scroll->Page();
    switch (id & 0xFFFF) {
    case UIScrollBar::kLineUp:
        ScrollTo(m_offset - 1);
        break;
    case UIScrollBar::kLineDown:
        ScrollTo(m_offset + 1);
        break;
    case UIScrollBar::kPageUp:
        ScrollTo(m_offset - page);
        break;
    case UIScrollBar::kPageDown:
        ScrollTo(m_offset + page);
        break;
    case UIScrollBar::kThumbTrack:
        ScrollTo(id >> 16);
        break;
    default:
        break;
    }
    return 1;
}
