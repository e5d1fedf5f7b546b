#pragma once
// A line of text in a skinned text style ("text").

#include "ui/framework/UIObject.h"

class UILabel : public UIObject {
public:
    UILabel() : UIObject(kTypeLabel) {}

    // Reads "size" and the text style "text"; the style's own text is used until SetText.
    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void SetText(std::string text);
    const std::string& Text() const { return m_text; }
    void SetTextStyle(const SkinTextStyle& style);
    void SetTextColor(SkinColor color);
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;

private:
    SkinTextStyle m_style{};
    std::string m_text;
};
