#pragma once
// A check box with separate looks for the checked and unchecked states ("Checked/<state>",
// "Unchecked/<state>"), each following the button's state index.

#include "ui/framework/UICheckBox.h"

class UICheckBoxEx : public UICheckBox {
public:
    UICheckBoxEx() : UICheckBox(kTypeCheckBoxEx) {}

    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    int DrawIndex() const override { return UIButton::DrawIndex(); }
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;

private:
    SkinStateTable m_checkedStyles{};
};
