#include "ui/framework/UIButton.h"

#include "ui/framework/UIGeometry.h"
#include "ui/framework/UISkinDraw.h"
#include "ui/framework/UISkinText.h"

namespace {
constexpr const char* kStateNames[5] = {"normal", "grayed", "lighted", "pressed", "focused"};
}

void UIButton::ReadStates(IResource* resource, const Json::Value* node, std::string_view prefix,
                          SkinStateTable& table) {
    for (int i = 0; i < 5; ++i)
        table[i] = resource->GetImageStyle(std::string(prefix) + kStateNames[i], node);
}

bool UIButton::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    if (!resource)
        return false;
    const Json::Value* node = resource->FindNode(path, start);
    if (!node)
        return false;
    if (int id = resource->GetInt("id", node))
        SetId(id);
    SkinQuad size = resource->GetRect("size", node);
    if (size[2] > 0 && size[3] > 0)
        SetLayout(size);
    ReadStates(resource, node, "", m_styles);
    m_textMargin = resource->GetRect("Text/margin", node);
    for (int i = 0; i < 5; ++i)
        m_textStyles[i] = resource->GetTextStyle(std::string("Text/") + kStateNames[i], node);
    Invalidate();
    return true;
}

void UIButton::SetText(std::string text) {
    m_text = std::move(text);
    Invalidate();
}

int UIButton::DrawIndex() const {
    if (!IsEnabled())
        return kSkinGrayed;
    if (m_state == kStatePressed)
        return kSkinPressed;
    if (m_state == kStateHovered)
        return kSkinLighted;
    return kSkinNormal;
}

void UIButton::DrawFace(cairo_t* cr, const CHRect& rect, const SkinStateTable& table) {
    int index = DrawIndex();
    DrawImageStyle(cr, rect, table[index]);
    const SkinTextStyle& style = m_textStyles[index];
    const std::string& text = m_text.empty() ? style.text : m_text;
    if (text.empty())
        return;
    CHRect area =
        RectInset(rect, m_textMargin[0], m_textMargin[1], m_textMargin[2], m_textMargin[3]);
    if (m_state == kStatePressed)
        area = RectOffset(area, 1, 1);
    DrawSkinText(cr, text, area, style);
}

void UIButton::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    DrawFace(cr, rect, m_styles);
}

void UIButton::SetState(int state) {
    if (m_state == state)
        return;
    m_state = state;
    Invalidate();
}

bool UIButton::OnElementLButtonDown(int, int) {
    SetState(kStatePressed);
    SetCapture();
    return true;
}

bool UIButton::OnElementLDoubleClick(int x, int y) {
    return OnElementLButtonDown(x, y);
}

bool UIButton::OnElementMouseMove(int x, int y) {
    if (HasCapture())
        SetState(RectContains(Rect(), x, y) ? kStatePressed : kStateNone);
    return false;
}

bool UIButton::OnElementLButtonUp(int x, int y) {
    if (!HasCapture())
        return true; // the press began elsewhere: no click
    ReleaseCapture();
    bool inside = RectContains(Rect(), x, y);
    SetState(inside ? kStateHovered : kStateNone);
    if (inside && IsEnabled() && IsVisible())
        OnClicked();
    return true;
}

void UIButton::OnMouseEnter() {
    if (IsEnabled() && IsVisible() && !HasCapture())
        SetState(kStateHovered);
}

void UIButton::OnMouseLeave() {
    if (!HasCapture())
        SetState(kStateNone);
}

void UIButton::OnShown(bool visible) {
    if (!visible) {
        ReleaseCapture();
        m_state = kStateNone;
    }
}

void UIButton::OnClicked() {
    NotifyParent(this, kNotifyCommand, Id());
}
