#pragma once
// A bar that holds buttons side by side on a skinned background, with the "seperator" style
// drawn in the gaps between its visible children.

#include "ui/framework/UIPane.h"

class UIToolBar : public UIPane {
public:
    UIToolBar() : UIPane(kTypeToolBar) {}

    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;

private:
    SkinImageStyle m_separator{};
};
