#include "ui/framework/UIProgress.h"

#include "ui/framework/UIGeometry.h"
#include "ui/framework/UISkinDraw.h"

#include <algorithm>

bool UIProgress::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    const Json::Value* node = FindSkinNode(resource, path, start);
    if (!node)
        return false;
    SetStyles(resource->GetImageStyle("bkgnd", node), resource->GetImageStyle("frgnd", node));
    return true;
}

void UIProgress::SetStyles(const SkinImageStyle& background, const SkinImageStyle& foreground) {
    m_bkgnd = background;
    m_frgnd = foreground;
    Invalidate();
}

void UIProgress::SetRange(int minimum, int maximum) {
    m_min = minimum;
    m_max = maximum;
    Invalidate();
}

void UIProgress::SetPos(int position) {
    if (position == m_pos)
        return;
    m_pos = position;
    Invalidate();
}

int UIProgress::FilledWidth(int width, int minimum, int maximum, int position) {
    if (maximum <= minimum || width <= 0)
        return 0;
    int64_t range = static_cast<int64_t>(maximum) - minimum;
    int64_t done = std::clamp<int64_t>(static_cast<int64_t>(position) - minimum, 0, range);
    return static_cast<int>(width * done / range);
}

void UIProgress::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    DrawImageStyle(cr, rect, m_bkgnd);
    int filled = FilledWidth(RectWidth(rect), m_min, m_max, m_pos);
    if (filled > 0)
        DrawImageStyle(cr, {rect.left, rect.top, rect.left + filled, rect.bottom}, m_frgnd);
}
