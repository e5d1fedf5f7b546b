#include "ui/framework/UIPane.h"

#include "ui/framework/UISkinDraw.h"

bool UIPane::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    const Json::Value* node = FindSkinNode(resource, path, start);
    if (!node)
        return false;
    m_bkgnd = resource->FindNode("bkgnd", node) ? resource->GetImageStyle("bkgnd", node)
                                                : resource->GetImageStyle("", node);
    Invalidate();
    return true;
}

void UIPane::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    DrawImageStyle(cr, rect, m_bkgnd);
}
