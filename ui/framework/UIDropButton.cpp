#include "ui/framework/UIDropButton.h"

#include "ui/framework/UIGeometry.h"

void UIDropButton::DropAction() {
    NotifyParent(this, kNotifyCommand, Id());
}

void UIDropButton::OnClicked() {
    DropAction();
    INativePlatform* platform = NativePlatform();
    INativeWindow* window = HostWindow();
    int x = 0, y = 0;
    bool over = false;
    if (platform && window && platform->PointerPosition(x, y)) {
        NativeRect frame = window->Frame();
        over = RectContains(Rect(), x - frame.x, y - frame.y);
    }
    SetState(over ? kStateHovered : kStateNone);
}
