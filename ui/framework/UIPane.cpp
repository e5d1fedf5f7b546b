#include "ui/framework/UIPane.h"

#include "ui/framework/UISkinDraw.h"

bool UIPane::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    if (!resource)
        return false;
    const Json::Value* node = resource->FindNode(path, start);
    if (!node)
        return false;
    SkinQuad size = resource->GetRect("size", node);
    if (size[2] > 0 && size[3] > 0)
        SetLayout(size);
    m_bkgnd = resource->FindNode("bkgnd", node) ? resource->GetImageStyle("bkgnd", node)
                                                : resource->GetImageStyle("", node);
    Invalidate();
    return true;
}

void UIPane::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    DrawImageStyle(cr, rect, m_bkgnd);
}
