#include "ui/framework/UICheckBoxEx.h"

bool UICheckBoxEx::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    if (!UIButton::ApplySkin(resource, path, start))
        return false;
    const Json::Value* node = resource->FindNode(path, start);
    ReadStates(resource, node, "Unchecked/", m_styles);
    ReadStates(resource, node, "Checked/", m_checkedStyles);
    return true;
}

void UICheckBoxEx::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    DrawFace(cr, rect, m_checked ? m_checkedStyles : m_styles);
}
