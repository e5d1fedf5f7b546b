#include "ui/framework/UIHyperLink.h"

#include "ui/framework/UIGeometry.h"
#include "ui/framework/UISkinText.h"

#include <algorithm>

void UIHyperLink::SetText(std::string text) {
    m_text = std::move(text);
    Invalidate();
}

void UIHyperLink::SetTextColor(SkinColor color) {
    m_color = color;
    Invalidate();
}

void UIHyperLink::SetFont(const PangoFontDescription* font) {
    m_font = font;
    Invalidate();
}

int UIHyperLink::TextWidth() const {
    return MeasureSkinTextWidth(m_text, m_font);
}

CHRect UIHyperLink::TextRect() const {
    const CHRect& r = Rect();
    return {r.left, r.top, std::min(r.right, r.left + TextWidth()), r.bottom};
}

void UIHyperLink::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    DrawSkinText(cr, m_text, rect, m_font, m_color,
                 kTextVCenter | kTextSingleLine | kTextWordEllipsis, IsHovered());
}

NativeCursor UIHyperLink::CursorAt(int x, int y) {
    return RectContains(TextRect(), x, y) ? NativeCursor::Hand : Cursor();
}

bool UIHyperLink::OnElementLButtonDown(int x, int y) {
    if (RectContains(TextRect(), x, y))
        SetCapture();
    return true;
}

bool UIHyperLink::OnElementLButtonUp(int x, int y) {
    if (!HasCapture())
        return true;
    ReleaseCapture();
    if (RectContains(TextRect(), x, y) && IsEnabled())
        NotifyParent(this, kNotifyCommand, Id());
    return true;
}

void UIHyperLink::OnShown(bool visible) {
    if (!visible)
        ReleaseCapture();
}
