#include "ui/framework/UIToolBar.h"

#include "ui/framework/UIGeometry.h"
#include "ui/framework/UISkinDraw.h"

bool UIToolBar::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    if (!UIPane::ApplySkin(resource, path, start))
        return false;
    m_separator = resource->GetImageStyle("seperator", resource->FindNode(path, start));
    return true;
}

void UIToolBar::Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) {
    UIPane::Draw(cr, rect, dirty);
    if (!m_separator.bgBitmap || m_separator.bgW <= 0)
        return;
    const UIObject* previous = nullptr;
    for (const auto& child : Children()) {
        if (!child->IsVisible())
            continue;
        if (previous) {
            int gapCentre = (previous->Rect().right + child->Rect().left) / 2;
            int x = gapCentre - m_separator.bgW / 2;
            DrawImageStyle(cr, {x, rect.top, x + m_separator.bgW, rect.bottom}, m_separator);
        }
        previous = child.get();
    }
}
