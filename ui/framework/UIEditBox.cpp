#include "ui/framework/UIEditBox.h"

#include "ui/framework/UIGeometry.h"
#include "ui/framework/UISkinDraw.h"
#include "ui/framework/UISkinText.h"

bool UIEditBox::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    const Json::Value* node = FindSkinNode(resource, path, start);
    if (!node)
        return false;
    m_normal = resource->GetImageStyle("normal", node);
    m_grayed = resource->GetImageStyle("grayed", node);
    m_bkgnd = resource->GetImageStyle("bkgnd", node);
    m_textStyle = resource->GetTextStyle("Text", node);
    m_margin = resource->GetRect("margin", node);
    Invalidate();
    return true;
}

void UIEditBox::SetText(std::string text) {
    if (text == m_text)
        return;
    m_text = std::move(text);
    Invalidate();
    NotifyParent(this, kNotifyTextChanged, Id());
}

CHRect UIEditBox::TextRect() const {
    return RectInset(Rect(), m_margin[0], m_margin[1], m_margin[2], m_margin[3]);
}

void UIEditBox::DrawField(cairo_t* cr, const CHRect& rect) {
    DrawImageStyle(cr, rect, m_bkgnd);
    DrawImageStyle(cr, rect, IsEnabled() ? m_normal : m_grayed);
}

void UIEditBox::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    DrawField(cr, rect);
    DrawSkinText(cr, m_text, TextRect(), m_textStyle.font, m_textStyle.color,
                 kTextVCenter | kTextSingleLine | (m_textStyle.align & (kTextCenter | kTextRight)));
}
