#include "ui/framework/UICheckBox.h"

void UICheckBox::SetChecked(bool checked) {
    if (m_checked == checked)
        return;
    m_checked = checked;
    Invalidate();
}

int UICheckBox::DrawIndex() const {
    if (!IsEnabled())
        return kSkinGrayed;
    if (m_checked || m_state == kStatePressed)
        return kSkinPressed;
    if (m_state == kStateHovered)
        return kSkinLighted;
    return kSkinNormal;
}

void UICheckBox::OnClicked() {
    SetChecked(!m_checked);
    NotifyParent(this, kNotifyCommand, Id());
}
