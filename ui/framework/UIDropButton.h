#pragma once
// A button whose click runs a drop action (owners override it to show a menu). Afterwards the
// hover look follows where the pointer is now, since the action may have taken a while.

#include "ui/framework/UIButton.h"

class UIDropButton : public UIButton {
public:
    UIDropButton() : UIButton(kTypeDropButton) {}

protected:
    // By default reports kNotifyCommand with the button's id.
    virtual void DropAction();
    void OnClicked() override;
};
