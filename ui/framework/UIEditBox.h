#pragma once
// A text box that shows one line of text on a skinned field ("normal", or "grayed" when
// disabled, over "bkgnd"), inset by "margin". Editing is added by derived inputs.

#include "ui/framework/UIObject.h"

class UIEditBox : public UIObject {
public:
    UIEditBox() : UIObject(kTypeEditBox) {}

    // Reads "size", "normal", "grayed", "Text", "margin", "bkgnd".
    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    // Sets the text; reports kNotifyTextChanged when it differs.
    virtual void SetText(std::string text);
    const std::string& Text() const { return m_text; }
    // The rectangle the text is drawn in.
    CHRect TextRect() const;
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    NativeCursor CursorAt(int, int) override { return NativeCursor::Text; }

protected:
    // The field's background in its enabled or disabled look.
    void DrawField(cairo_t* cr, const CHRect& rect);

    std::string m_text;
    SkinImageStyle m_normal{};
    SkinImageStyle m_grayed{};
    SkinImageStyle m_bkgnd{};
    SkinTextStyle m_textStyle{};
    SkinQuad m_margin{};
};
