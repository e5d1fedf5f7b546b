#pragma once
// A radio box: clicking an unchecked one checks it and unchecks its radio-box siblings.

#include "ui/framework/UICheckBox.h"

class UIRadioBox : public UICheckBox {
public:
    UIRadioBox() : UICheckBox(kTypeRadioBox) {}

protected:
    void OnClicked() override;
};
