#include "ui/framework/UIRadioBox.h"

void UIRadioBox::OnClicked() {
    if (m_checked)
        return;
    m_checked = true;
    Invalidate();
    if (UIObject* parent = Parent()) {
        for (const auto& sibling : parent->Children()) {
            if (sibling.get() == this || sibling->TypeCode() != kTypeRadioBox)
                continue;
            auto* radio = static_cast<UIRadioBox*>(sibling.get());
            radio->SetChecked(false);
            radio->SetState(kStateNone);
        }
    }
    NotifyParent(this, kNotifyCommand, Id());
}
