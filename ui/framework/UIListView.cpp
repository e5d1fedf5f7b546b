#include "ui/framework/UIListView.h"

#include "ui/framework/UIGeometry.h"
#include "ui/framework/UIHeader.h"
#include "ui/framework/UIScrollBar.h"
#include "ui/framework/UISkinDraw.h"
#include "ui/framework/UISkinText.h"

#include <cairo.h>

#include <algorithm>

namespace {
constexpr int kScrollBarWidth = 13;
}

UIListView::UIListView() : UIObject(kTypeListView) {
    m_header = Add<UIHeader>();
    m_header->Show(false);
    m_scroll = Add<UIScrollBar>(true);
    m_scroll->Show(false);
}

bool UIListView::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    const Json::Value* node = FindSkinNode(resource, path, start);
    if (!node)
        return false;
    if (resource->FindNode("ScrollBar", node))
        m_scroll->ApplySkin(resource, "ScrollBar", node);
    if (resource->FindNode("Header", node)) {
        m_header->ApplySkin(resource, "Header", node);
        m_header->Show(m_header->HeaderHeight() > 0);
    }
    m_odd = resource->GetImageStyle("Item/odd", node);
    m_even = resource->GetImageStyle("Item/even", node);
    m_selectedStyle = resource->GetImageStyle("Item/selected", node);
    m_text = resource->GetTextStyle("Item/text", node);
    if (int height = resource->GetInt("Item/height", node); height > 0)
        m_rowHeight = height;
    UpdateScroll();
    return true;
}

void UIListView::AddRow(std::string text) {
    m_rows.push_back(std::move(text));
    UpdateScroll();
}

void UIListView::ClearRows() {
    m_rows.clear();
    m_selected = -1;
    m_offset = 0;
    UpdateScroll();
}

void UIListView::Select(int row) {
    if (row < -1 || row >= static_cast<int>(m_rows.size()) || row == m_selected)
        return;
    m_selected = row;
    Invalidate();
}

CHRect UIListView::RowsArea() const {
    CHRect area = Rect();
    if (m_header->IsVisible())
        area.top += m_header->HeaderHeight();
    if (m_scroll->IsVisible())
        area.right -= RectWidth(m_scroll->Rect());
    return area;
}

CHRect UIListView::RowRect(int row) const {
    CHRect area = RowsArea();
    int top = area.top + row * m_rowHeight - m_offset;
    return {area.left, top, area.right, top + m_rowHeight};
}

void UIListView::UpdateScroll() {
    const CHRect& r = Rect();
    int headerHeight = m_header->IsVisible() ? m_header->HeaderHeight() : 0;
    m_header->MoveTo({r.left, r.top, r.right, r.top + headerHeight});
    int visible = RectHeight(r) - headerHeight;
    int content = static_cast<int>(m_rows.size()) * m_rowHeight;
    bool needed = visible > 0 && content > visible;
    m_scroll->Show(needed);
    if (needed) {
        m_scroll->MoveTo({r.right - kScrollBarWidth, r.top + headerHeight, r.right, r.bottom});
        m_scroll->SetRange(0, content);
        m_scroll->SetPage(visible);
    }
    ScrollTo(needed ? m_offset : 0);
}

void UIListView::ScrollTo(int offset) {
    int visible = RectHeight(RowsArea());
    int content = static_cast<int>(m_rows.size()) * m_rowHeight;
    offset = std::clamp(offset, 0, std::max(content - visible, 0));
    if (m_scroll->IsVisible())
        m_scroll->SetPos(offset);
    if (offset != m_offset) {
        m_offset = offset;
        Invalidate();
    }
}

void UIListView::Draw(cairo_t* cr, const CHRect&, const CHRect& dirty) {
    CHRect area = RowsArea();
    cairo_save(cr);
    cairo_rectangle(cr, area.left, area.top, RectWidth(area), RectHeight(area));
    cairo_clip(cr);
    for (int row = 0; row < static_cast<int>(m_rows.size()); ++row) {
        CHRect rowRect = RowRect(row);
        if (RectEmpty(RectIntersect(rowRect, dirty)))
            continue;
        const SkinImageStyle& style =
            row == m_selected ? m_selectedStyle : (row % 2 == 0 ? m_odd : m_even);
        DrawImageStyle(cr, rowRect, style);
        DrawSkinText(cr, m_rows[row], RectInset(rowRect, 8, 0, 8, 0), m_text.font, m_text.color,
                     kTextVCenter | kTextSingleLine | kTextWordEllipsis);
    }
    cairo_restore(cr);
}

bool UIListView::OnElementLButtonDown(int x, int y) {
    if (!RectContains(RowsArea(), x, y))
        return true;
    int row = (y - RowsArea().top + m_offset) / m_rowHeight;
    if (row >= 0 && row < static_cast<int>(m_rows.size()))
        Select(row);
    return true;
}

bool UIListView::OnElementWheel(int steps, int, int) {
    if (!m_scroll->IsVisible())
        return false;
    int position = UIScrollBar::WheelPosition(m_scroll->Min(), m_scroll->Max(), m_scroll->Page(),
                                              m_scroll->Pos(), steps);
    ScrollTo(position);
    return true;
}

int UIListView::NotifyParent(UIObject* source, int code, int id) {
    if (source != m_scroll || code != kNotifyVScroll)
        return UIObject::NotifyParent(source, code, id);
    int page = m_scroll->Page();
    switch (id & 0xFFFF) {
    case UIScrollBar::kLineUp:
        ScrollTo(m_offset - m_rowHeight);
        break;
    case UIScrollBar::kLineDown:
        ScrollTo(m_offset + m_rowHeight);
        break;
    case UIScrollBar::kPageUp:
        ScrollTo(m_offset - page);
        break;
    case UIScrollBar::kPageDown:
        ScrollTo(m_offset + page);
        break;
    case UIScrollBar::kThumbTrack:
        ScrollTo(m_scroll->Pos());
        break;
    default:
        break;
    }
    return 1;
}
