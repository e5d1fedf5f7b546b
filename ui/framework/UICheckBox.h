#pragma once
// A check box: a button whose click toggles a checked flag. A ticked box keeps its ticked look
// while hovered.

#include "ui/framework/UIButton.h"

class UICheckBox : public UIButton {
public:
    explicit UICheckBox(int typeCode = kTypeCheckBox) : UIButton(typeCode) {}

    bool IsChecked() const { return m_checked; }
    void SetChecked(bool checked);
    int DrawIndex() const override;

protected:
    void OnClicked() override;

    bool m_checked = false;
};
