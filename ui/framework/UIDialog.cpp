#include "ui/framework/UIDialog.h"

#include "ui/framework/UIGeometry.h"

int UIDialog::DoModal(UIObject* owner, int width, int height) {
    INativePlatform* platform = NativePlatform();
    if (!platform)
        return -1;
    m_modal = true;
    m_ended = false;
    m_quit = false;
    m_endCode = 0;
    INativeWindow* ownerWindow = owner ? owner->HostWindow() : nullptr;
    bool disabledOwner = ownerWindow && ownerWindow->IsSensitive();
    if (disabledOwner)
        ownerWindow->SetSensitive(false);
    if (!HasNative() && !Create(width, height, true, false)) {
        if (disabledOwner)
            ownerWindow->SetSensitive(true);
        m_modal = false;
        return -1;
    }
    Native()->SetTransientFor(ownerWindow);
    OnInitDialog();
    Show(true);
    Native()->Present();
    m_quit = platform->RunNestedUntil([this] { return m_ended; });
    Show(false);
    if (disabledOwner)
        ownerWindow->SetSensitive(true);
    if (ownerWindow)
        ownerWindow->Present();
    DestroyNative();
    m_modal = false;
    return m_endCode;
}

void UIDialog::EndDialog(int code) {
    m_endCode = code;
    m_ended = true;
}

void UIDialog::OnSystemCommand(int command) {
    if (m_modal && command == kSysCommandClose) {
        EndDialog(kEndClosed);
        return;
    }
    UIFrameWindow::OnSystemCommand(command);
}
