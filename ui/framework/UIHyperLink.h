#pragma once
// A text link: the hand cursor over its text, underlined while hovered; a press and release on
// the text reports kNotifyCommand with the link's id.

#include "ui/framework/UIObject.h"

class UIHyperLink : public UIObject {
public:
    UIHyperLink() : UIObject(kTypeObject) {}

    void SetText(std::string text);
    const std::string& Text() const { return m_text; }
    void SetTextColor(SkinColor color);
    void SetFont(const PangoFontDescription* font);
    // Width of the text in pixels.
    int TextWidth() const;
    // The part of the element covered by the text.
    CHRect TextRect() const;

    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    NativeCursor CursorAt(int x, int y) override;
    bool OnElementLButtonDown(int x, int y) override;
    bool OnElementLButtonUp(int x, int y) override;
    void OnMouseEnter() override { Invalidate(); }
    void OnMouseLeave() override { Invalidate(); }
    void OnShown(bool visible) override;

private:
    std::string m_text;
    SkinColor m_color = 0;
    const PangoFontDescription* m_font = nullptr;
};
