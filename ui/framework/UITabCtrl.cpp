#include "ui/framework/UITabCtrl.h"

#include "ui/framework/UIGeometry.h"
#include "ui/framework/UISkinDraw.h"
#include "ui/framework/UISkinText.h"

bool UITabCtrl::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    const Json::Value* node = FindSkinNode(resource, path, start);
    if (!node)
        return false;
    m_bkgnd = resource->GetImageStyle("bkgnd", node);
    m_itemNormal = resource->GetImageStyle("Item/normal", node);
    m_itemPressed = resource->GetImageStyle("Item/pressed", node);
    m_textNormal = resource->GetTextStyle("Text/normal", node);
    m_textPressed = resource->GetTextStyle("Text/pressed", node);
    LayoutItems();
    return true;
}

void UITabCtrl::AddItem(int id, std::string text) {
    m_items.push_back({id, std::move(text), true, {}});
    if (m_current < 0)
        m_current = 0;
    LayoutItems();
}

void UITabCtrl::ShowItem(int id, bool visible) {
    for (Item& item : m_items)
        if (item.id == id)
            item.visible = visible;
    LayoutItems();
}

void UITabCtrl::SetItemSize(int size) {
    m_itemSize = size > 0 ? size : 0;
    LayoutItems();
}

bool UITabCtrl::SelectById(int id) {
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i].id == id) {
            m_current = static_cast<int>(i);
            Invalidate();
            return true;
        }
    }
    return false;
}

int UITabCtrl::CurrentId() const {
    return m_current >= 0 && m_current < static_cast<int>(m_items.size()) ? m_items[m_current].id
                                                                          : 0;
}

bool UITabCtrl::IsVertical() const {
    return RectHeight(Rect()) > RectWidth(Rect());
}

int UITabCtrl::ItemExtent(const Item& item) const {
    if (m_itemSize > 0)
        return m_itemSize;
    if (IsVertical())
        return m_itemNormal.bgH > 0 ? m_itemNormal.bgH : kDefaultItemHeight;
    int textWidth = MeasureSkinTextWidth(item.text, m_textNormal.font);
    return textWidth < kNarrowText ? kNarrowItem : textWidth + kTextPadding;
}

void UITabCtrl::LayoutItems() {
    const CHRect& r = Rect();
    bool vertical = IsVertical();
    int next = vertical ? r.top : r.left;
    for (Item& item : m_items) {
        if (!item.visible) {
            item.rect = {};
            continue;
        }
        int extent = ItemExtent(item);
        item.rect = vertical ? CHRect{r.left, next, r.right, next + extent}
                             : CHRect{next, r.top, next + extent, r.bottom};
        next += extent;
    }
    Invalidate();
}

void UITabCtrl::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    DrawImageStyle(cr, rect, m_bkgnd);
    for (size_t i = 0; i < m_items.size(); ++i) {
        const Item& item = m_items[i];
        if (!item.visible)
            continue;
        bool current = static_cast<int>(i) == m_current;
        DrawImageStyle(cr, item.rect, current ? m_itemPressed : m_itemNormal);
        const SkinTextStyle& style = current ? m_textPressed : m_textNormal;
        DrawSkinText(cr, item.text, RectOffset(item.rect, style.offsetX, style.offsetY), style.font,
                     style.color, kTextCenter | kTextVCenter | kTextSingleLine);
    }
}

bool UITabCtrl::OnElementLButtonDown(int x, int y) {
    for (size_t i = 0; i < m_items.size(); ++i) {
        const Item& item = m_items[i];
        if (!item.visible || !RectContains(item.rect, x, y))
            continue;
        if (static_cast<int>(i) != m_current) {
            m_current = static_cast<int>(i);
            Invalidate();
            NotifyParent(this, kNotifyCommand, item.id);
        }
        return true;
    }
    return true;
}
