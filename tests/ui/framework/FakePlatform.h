#pragma once
// A native platform for unit tests: windows record what the framework asks of them, timers fire
// only when the test says so, and input is fed with the helpers below.

#include "platform/NativeWindow.h"
#include "platform/UiDispatcher.h"
#include "ui/framework/UIObject.h"

#include <functional>
#include <map>
#include <vector>

class FakeWindow : public INativeWindow {
public:
    void Show() override { visible = true; }
    void Hide() override { visible = false; }
    void Present() override {
        visible = true;
        ++presents;
    }
    void Iconify() override { iconified = true; }
    void Maximize(bool on) override { maximized = on; }
    bool IsVisible() const override { return visible; }
    bool IsIconified() const override { return iconified; }
    void Move(int x, int y) override { frame.x = x, frame.y = y; }
    void Resize(int width, int height) override { frame.width = width, frame.height = height; }
    NativeRect Frame() const override { return frame; }
    void BeginMoveDrag(const NativeEvent&) override { ++moveDrags; }
    void BeginResizeDrag(NativeEdge edge, const NativeEvent&) override {
        resizeEdges.push_back(edge);
    }
    void SetCursor(NativeCursor c) override { cursor = c; }
    void Invalidate(const NativeRect& rect) override { invalidated.push_back(rect); }
    void SetShape(const std::vector<NativeRect>& keep) override { shape = keep, ++shapeSets; }
    bool IsTranslucent() const override { return translucent; }
    void SetSensitive(bool enabled) override { sensitive = enabled; }
    bool IsSensitive() const override { return sensitive; }
    void SetTransientFor(INativeWindow*) override {}
    void SetTitle(std::string_view) override {}
    void GrabFocus() override { ++focusGrabs; }
    void SetTextInput(bool on, const NativeRect& caret) override {
        textInput = on;
        textCaret = caret;
    }
    bool textInput = false;
    NativeRect textCaret{};

    bool visible = false;
    bool iconified = false;
    bool maximized = false;
    bool translucent = false;
    bool sensitive = true;
    NativeRect frame{};
    NativeCursor cursor = NativeCursor::Default;
    int moveDrags = 0;
    int presents = 0;
    int focusGrabs = 0;
    int shapeSets = 0;
    std::vector<NativeEdge> resizeEdges;
    std::vector<NativeRect> invalidated;
    std::vector<NativeRect> shape;
};

class FakePlatform : public INativePlatform {
public:
    FakePlatform() { SetNativePlatform(this); }
    ~FakePlatform() override { SetNativePlatform(nullptr); }

    std::unique_ptr<INativeWindow> CreateNativeWindow(INativeWindowHost*,
                                                      const NativeWindowOptions& options) override {
        auto window = std::make_unique<FakeWindow>();
        window->frame = {0, 0, options.width, options.height};
        window->translucent = options.translucent && compositor;
        lastWindow = window.get();
        return window;
    }
    uint64_t StartTimer(int periodMs, std::function<void()> tick) override {
        timers[++lastTimer] = {periodMs, std::move(tick)};
        return lastTimer;
    }
    void StopTimer(uint64_t id) override { timers.erase(id); }
    bool HasCompositor() const override { return compositor; }
    bool PointerPosition(int& x, int& y) const override {
        x = pointerX, y = pointerY;
        return true;
    }
    NativeRect ScreenArea() const override { return {0, 0, 1280, 1024}; }
    void RunLoop() override {}
    void QuitLoop() override { quit = true; }
    // Runs the scripted steps one by one until done or they run out.
    bool RunNestedUntil(const std::function<bool()>& done) override {
        while (!quit && !done() && !nestedSteps.empty()) {
            auto step = std::move(nestedSteps.front());
            nestedSteps.erase(nestedSteps.begin());
            step();
        }
        return quit;
    }
    CHUiDispatcher& Dispatcher() override { return dispatcher; }
    void SetClipboardText(const std::string& text) override { clipboard = text; }
    bool GetClipboardText(std::string& text) override {
        text = clipboard;
        return true;
    }
    std::string clipboard;

    // Fires one platform timer as the loop would (a copy: the tick may stop itself).
    void Fire(uint64_t id) {
        auto it = timers.find(id);
        if (it == timers.end())
            return;
        auto tick = it->second.tick;
        tick();
    }

    struct Timer {
        int period = 0;
        std::function<void()> tick;
    };
    std::map<uint64_t, Timer> timers;
    uint64_t lastTimer = 0;
    bool compositor = false;
    bool quit = false;
    int pointerX = 0;
    int pointerY = 0;
    std::vector<std::function<void()>> nestedSteps;
    FakeWindow* lastWindow = nullptr;
    CHUiDispatcher dispatcher;
};

// Input helpers: events as the native window would deliver them.
inline void MoveMouse(UIObject& root, int x, int y) {
    NativeEvent e;
    e.kind = NativeEventKind::MouseMove;
    e.x = x, e.y = y;
    root.DispatchEvent(e);
}

inline void Press(UIObject& root, int x, int y, MouseButton button = MouseButton::Left) {
    NativeEvent e;
    e.kind = NativeEventKind::ButtonDown;
    e.button = button;
    e.x = x, e.y = y;
    root.DispatchEvent(e);
}

inline void Release(UIObject& root, int x, int y, MouseButton button = MouseButton::Left) {
    NativeEvent e;
    e.kind = NativeEventKind::ButtonUp;
    e.button = button;
    e.x = x, e.y = y;
    root.DispatchEvent(e);
}

inline void Click(UIObject& root, int x, int y) {
    MoveMouse(root, x, y);
    Press(root, x, y);
    Release(root, x, y);
}

inline void Wheel(UIObject& root, int x, int y, int steps) {
    NativeEvent e;
    e.kind = NativeEventKind::Wheel;
    e.x = x, e.y = y;
    e.wheelSteps = steps;
    root.DispatchEvent(e);
}

// Records the notifications that reach the root.
class NotifyRecorder : public UIObject {
public:
    struct Entry {
        UIObject* source;
        int code;
        int id;
    };
    int NotifyParent(UIObject* source, int code, int id) override {
        log.push_back({source, code, id});
        return 1;
    }
    std::vector<Entry> log;
};

// A windowed root of the given size on the fake platform.
template <class T = UIObject> std::unique_ptr<T> MakeWindowRoot(int width = 400, int height = 300) {
    auto root = std::make_unique<T>();
    NativeWindowOptions options;
    options.width = width;
    options.height = height;
    root->CreateWindowed(options);
    root->Show(true);
    return root;
}
