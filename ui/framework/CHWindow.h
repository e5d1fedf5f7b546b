#pragma once
// Binds one object to one native window and turns each native event into a virtual call.
// Used on its own by small windows (tooltips, the updater's windows) and as the base of every
// skinned element (UIObject). Nothing here includes a windowing-system header: the native side
// comes from the platform installed with SetNativePlatform.

#include "platform/NativeWindow.h"

#include <memory>

class CHWindow : public INativeWindowHost {
public:
    CHWindow() = default;
    ~CHWindow() override;
    CHWindow(const CHWindow&) = delete;
    CHWindow& operator=(const CHWindow&) = delete;

    // Creates the native window bound to this object; false without a platform or when this
    // object already has one.
    bool CreateNative(const NativeWindowOptions& options);
    void DestroyNative();
    INativeWindow* Native() const { return m_native.get(); }
    bool HasNative() const { return m_native != nullptr; }

    void OnNativeEvent(const NativeEvent& event) override;
    NativePixels OnNativePaint(const NativeRect& dirty) override;

protected:
    // One handler per native event; the defaults do nothing.
    virtual void OnMouseMove(const NativeEvent&) {}
    virtual void OnButtonDown(const NativeEvent&) {}
    virtual void OnButtonUp(const NativeEvent&) {}
    virtual void OnDoubleClick(const NativeEvent&) {}
    virtual void OnWheel(const NativeEvent&) {}
    virtual void OnMouseLeaveWindow() {}
    virtual void OnKeyDown(const NativeEvent&) {}
    virtual void OnKeyUp(const NativeEvent&) {}
    virtual void OnChar(const NativeEvent&) {}
    virtual void OnFocusChange(bool /*focused*/) {}
    virtual void OnSize(int /*width*/, int /*height*/) {}
    // The user or the window manager asks to close; the default destroys the native window.
    virtual void OnClose() { DestroyNative(); }
    virtual void OnShowChange(bool /*shown*/) {}
    virtual void OnStateChange(const NativeEvent&) {}
    virtual NativePixels OnPaint(const NativeRect&) { return {}; }

private:
    std::unique_ptr<INativeWindow> m_native;
};
