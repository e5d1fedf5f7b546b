#include "ui/framework/CHWindow.h"

CHWindow::~CHWindow() {
    DestroyNative();
}

bool CHWindow::CreateNative(const NativeWindowOptions& options) {
    INativePlatform* platform = NativePlatform();
    if (!platform || m_native)
        return false;
    m_native = platform->CreateNativeWindow(this, options);
    return m_native != nullptr;
}

void CHWindow::DestroyNative() {
    // Released before destruction so events emitted while tearing down find no window.
    std::unique_ptr<INativeWindow> native = std::move(m_native);
    native.reset();
}

void CHWindow::OnNativeEvent(const NativeEvent& event) {
    switch (event.kind) {
    case NativeEventKind::MouseMove:
        OnMouseMove(event);
        break;
    case NativeEventKind::ButtonDown:
        OnButtonDown(event);
        break;
    case NativeEventKind::ButtonUp:
        OnButtonUp(event);
        break;
    case NativeEventKind::DoubleClick:
        OnDoubleClick(event);
        break;
    case NativeEventKind::Wheel:
        OnWheel(event);
        break;
    case NativeEventKind::MouseLeave:
        OnMouseLeaveWindow();
        break;
    case NativeEventKind::KeyDown:
        OnKeyDown(event);
        break;
    case NativeEventKind::KeyUp:
        OnKeyUp(event);
        break;
    case NativeEventKind::Char:
        OnChar(event);
        break;
    case NativeEventKind::FocusIn:
    case NativeEventKind::FocusOut:
        OnFocusChange(event.kind == NativeEventKind::FocusIn);
        break;
    case NativeEventKind::Resized:
        OnSize(event.width, event.height);
        break;
    case NativeEventKind::CloseRequest:
        OnClose();
        break;
    case NativeEventKind::Shown:
    case NativeEventKind::Hidden:
        OnShowChange(event.kind == NativeEventKind::Shown);
        break;
    case NativeEventKind::StateChanged:
        OnStateChange(event);
        break;
    }
}

NativePixels CHWindow::OnNativePaint(const NativeRect& dirty) {
    return OnPaint(dirty);
}
