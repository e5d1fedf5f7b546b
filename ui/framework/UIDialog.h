#pragma once
// A modal skinned window. DoModal disables the owner's window, shows the dialog and runs the UI
// loop until EndDialog (or the process quits), then re-enables and raises the owner.

#include "ui/framework/UIFrameWindow.h"

class UIDialog : public UIFrameWindow {
public:
    static constexpr int kEndClosed = 2;

    // owner: any element of the owning window, or null. Returns the end code, kEndClosed when
    // the dialog was closed, -1 when no window could be created.
    int DoModal(UIObject* owner, int width, int height);
    void EndDialog(int code);
    bool IsModal() const { return m_modal; }
    // A quit of the whole loop ended the dialog (the caller should return as well).
    bool QuitRequested() const { return m_quit; }

protected:
    // Called once the native window exists, before it is shown.
    virtual void OnInitDialog() {}
    void OnSystemCommand(int command) override;

private:
    bool m_modal = false;
    bool m_ended = false;
    bool m_quit = false;
    int m_endCode = 0;
};
