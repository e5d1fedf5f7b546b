#include "ui/framework/UILabel.h"

#include "ui/framework/UISkinText.h"

bool UILabel::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    const Json::Value* node = FindSkinNode(resource, path, start);
    if (!node)
        return false;
    m_style = resource->GetTextStyle("text", node);
    if (m_text.empty())
        m_text = m_style.text;
    Invalidate();
    return true;
}

void UILabel::SetText(std::string text) {
    m_text = std::move(text);
    Invalidate();
}

void UILabel::SetTextStyle(const SkinTextStyle& style) {
    m_style = style;
    Invalidate();
}

void UILabel::SetTextColor(SkinColor color) {
    m_style.color = color;
    Invalidate();
}

void UILabel::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    DrawSkinText(cr, m_text, rect, m_style);
}
