#pragma once
// The native-window seam of the desktop program. The skinned framework (ui/framework) draws
// every control itself into its own ARGB32 buffers; what it needs from the windowing system is
// only what this header declares: undecorated top-level windows that show a buffer, deliver
// input, move, resize and take a shape, plus timers and the UI loop. The GTK backend lives in
// platform/gtk; a Windows backend would reimplement these interfaces and nothing else.
//
// Everything here is used on the UI thread only. Worker threads reach the UI thread through
// CHUiDispatcher (platform/UiDispatcher.h).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CHUiDispatcher;

// x, y, width, height; used for screen and client rectangles alike.
struct NativeRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool IsEmpty() const { return width <= 0 || height <= 0; }
    bool operator==(const NativeRect&) const = default;
};

// Premultiplied ARGB32 pixels (0xAARRGGBB words, rows top-down) owned by the framework.
struct NativePixels {
    const uint32_t* data = nullptr;
    int width = 0;
    int height = 0;
    size_t stride = 0; // bytes
};

enum class NativeEventKind {
    MouseMove,
    ButtonDown,
    ButtonUp,
    DoubleClick,
    Wheel,
    MouseLeave,
    KeyDown,
    KeyUp,
    Char,
    FocusIn,
    FocusOut,
    Resized,      // client size changed: width, height
    CloseRequest, // the user or the window manager asked to close
    Shown,
    Hidden,
    StateChanged, // iconified / maximized changed
};

enum class MouseButton { None, Left, Middle, Right };

// Key codes follow the Windows virtual-key numbers, so keyboard handling reads the same on
// every backend. Letters and digits are their upper-case ASCII codes.
namespace NativeKey {
constexpr uint32_t Backspace = 8, Tab = 9, Return = 13, Shift = 16, Control = 17, Escape = 27,
                   Space = 32, PageUp = 33, PageDown = 34, End = 35, Home = 36, Left = 37, Up = 38,
                   Right = 39, Down = 40, Insert = 45, Delete = 46;
} // namespace NativeKey

namespace NativeModifier {
constexpr unsigned Shift = 1, Control = 2, Alt = 4, LeftButton = 8;
} // namespace NativeModifier

struct NativeEvent {
    NativeEventKind kind = NativeEventKind::MouseMove;
    int x = 0; // client coordinates
    int y = 0;
    int rootX = 0; // screen coordinates
    int rootY = 0;
    MouseButton button = MouseButton::None;
    int wheelSteps = 0; // > 0 away from the user, < 0 towards the user
    uint32_t key = 0;   // NativeKey code
    char32_t character = 0;
    unsigned modifiers = 0; // NativeModifier bits
    uint32_t time = 0;      // event time stamp, handed back for move/resize drags
    int width = 0;
    int height = 0;
    bool iconified = false;
    bool maximized = false;
};

enum class NativeCursor { Default, Hand, Text, Move, SizeWE, SizeNS, SizeNWSE, SizeNESW, Wait };

enum class NativeEdge { Top, Bottom, Left, Right, TopLeft, TopRight, BottomLeft, BottomRight };

struct NativeWindowOptions {
    std::string title = "Vellumo";
    int width = 0;
    int height = 0;
    bool translucent = false; // per-pixel alpha when a compositor runs
    bool popup = false;       // tooltip-like: no frame, no task-bar entry, never focused
    bool taskbar = true;
};

// What the framework implements to receive a native window's events and paint requests.
class INativeWindowHost {
public:
    virtual ~INativeWindowHost() = default;
    virtual void OnNativeEvent(const NativeEvent& event) = 0;
    // Draw at least the dirty rectangle into the host's buffer and hand it out; the pixels stay
    // valid until the host is called again.
    virtual NativePixels OnNativePaint(const NativeRect& dirty) = 0;
};

class INativeWindow {
public:
    virtual ~INativeWindow() = default; // destroys the native window; no more host calls
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual void Present() = 0; // show, raise and focus
    virtual void Iconify() = 0;
    virtual void Maximize(bool on) = 0;
    virtual bool IsVisible() const = 0;
    virtual bool IsIconified() const = 0;
    virtual void Move(int x, int y) = 0; // screen position of the top-left corner
    virtual void Resize(int width, int height) = 0;
    virtual NativeRect Frame() const = 0; // screen position and client size
    // Hand a drag that began with the press event to the window manager.
    virtual void BeginMoveDrag(const NativeEvent& press) = 0;
    virtual void BeginResizeDrag(NativeEdge edge, const NativeEvent& press) = 0;
    virtual void SetCursor(NativeCursor cursor) = 0;
    virtual void Invalidate(const NativeRect& rect) = 0;
    // Rectangles (client coordinates) that remain of the window; empty list: no shape.
    virtual void SetShape(const std::vector<NativeRect>& keep) = 0;
    virtual bool IsTranslucent() const = 0;      // per-pixel alpha is in effect
    virtual void SetSensitive(bool enabled) = 0; // a disabled window ignores input (modal owners)
    virtual bool IsSensitive() const = 0;
    virtual void SetTransientFor(INativeWindow* owner) = 0;
    virtual void SetTitle(std::string_view title) = 0;
    virtual void GrabFocus() = 0;
    // While on, key presses go through the system's input method first and the text it
    // commits arrives as Char events (any script, composed characters); caret places the input
    // method's candidate window. Off for everything that is not a text field.
    virtual void SetTextInput(bool on, const NativeRect& caret) = 0;
};

class INativePlatform {
public:
    virtual ~INativePlatform() = default;
    virtual std::unique_ptr<INativeWindow>
    CreateNativeWindow(INativeWindowHost* host, const NativeWindowOptions& options) = 0;
    // A repeating timer on the UI thread; 0 on failure. Stopping an unknown id does nothing.
    virtual uint64_t StartTimer(int periodMs, std::function<void()> tick) = 0;
    virtual void StopTimer(uint64_t id) = 0;
    virtual bool HasCompositor() const = 0;
    virtual bool PointerPosition(int& rootX, int& rootY) const = 0;
    virtual NativeRect ScreenArea() const = 0;
    // Runs the UI loop until QuitLoop.
    virtual void RunLoop() = 0;
    virtual void QuitLoop() = 0;
    // Runs the loop until done() is true (false) or QuitLoop was called (true; the outer loop
    // then ends as well).
    virtual bool RunNestedUntil(const std::function<bool()>& done) = 0;
    virtual CHUiDispatcher& Dispatcher() = 0;
    // The desktop clipboard as UTF-8 text.
    virtual void SetClipboardText(const std::string& text) = 0;
    virtual bool GetClipboardText(std::string& text) = 0;
};

// The platform the framework creates its windows with; null until the program installs one
// (then windows stay windowless and timers do nothing).
INativePlatform* NativePlatform();
void SetNativePlatform(INativePlatform* platform);
