#pragma once
// UIObject: the base of every visual element, and of the skinned windows built from them.
//
// How a window is built from elements:
//   1. The window is a UIObject (usually UIFrameWindow or UIDialog) that owns a native window:
//      CreateWindowed(options) makes it a root whose rectangle is the client area.
//   2. Controls are created (CreateElement(typeCode) or directly), added with AddChild (the
//      parent owns them), given their look with ApplySkin(resource, path) and placed either by
//      the skin's "size" / SetLayout(x, y, w, h) (negative x or y anchor to the parent's right or
//      bottom edge) or by code with MoveTo.
//   3. Controls report user actions with NotifyParent(source, code, id); the notification climbs
//      the parents until one handles it. Windows override NotifyParent to act on their
//      controls' command ids (kNotifyCommand) and scroll codes. That is the only path: controls
//      never send a second, separate command.
//   4. Painting is double-buffered per native window into an ARGB32 image surface: only the
//      dirty rectangle is redrawn; each element's Draw gets a cairo context clipped to its part
//      of it, and later children paint over earlier ones.
//   5. Everything runs on the UI thread. Workers reach a window only by posting a task to the
//      UI dispatcher: NativePlatform()->Dispatcher().Post(task) (platform/UiDispatcher.h). At
//      exit the dispatcher is shut down after the core stops and before windows are destroyed.
//   6. Element timers (SetElementTimer) and the tooltip delay are the only wake-ups an idle
//      window has; destroying an element stops its timers and clears every reference to it.
//
// Coordinates of every element are client coordinates of the native window of its root.

#include "media/CHBitmap.h"
#include "shell/IResource.h"
#include "ui/framework/CHWindow.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

typedef struct _cairo_surface cairo_surface_t;

// Element type codes, stored in every element and used to recognise it at run time.
enum UIElementType {
    kTypeObject = 0,
    kTypePane = 1,
    kTypeButton = 2,
    kTypeToolBar = 3,
    kTypeTabCtrl = 4,
    kTypeFrameWindow = 5,
    kTypeListView = 6,
    kTypeScrollBar = 7,
    kTypeHeader = 8,
    kTypeLabel = 9,
    kTypeCheckBox = 10,
    kTypeCheckBoxEx = 11,
    kTypeRadioBox = 12,
    kTypeProgress = 13,
    kTypeDropButton = 14,
    kTypeEditBox = 15,
};

// Notification codes of NotifyParent.
constexpr int kNotifyCommand = 273;     // a control's action; id = its command id
constexpr int kNotifyHScroll = 276;     // horizontal scroll bar; id = scroll code (see UIScrollBar)
constexpr int kNotifyVScroll = 277;     // vertical scroll bar
constexpr int kNotifyTextChanged = 768; // an edit box's text changed; id = its command id

// Layout rectangle: x, y, width, height as the skin's "size" holds them.
struct UILayout {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    bool operator==(const UILayout&) const = default;
};

class UIObject : public CHWindow {
public:
    explicit UIObject(int typeCode = kTypeObject);
    ~UIObject() override;

    // --- Tree ---
    // Adds child at the end (painted last, hit first) and lays it out. Returns it.
    UIObject* AddChild(std::unique_ptr<UIObject> child);
    template <class T, class... Args> T* Add(Args&&... args) {
        auto child = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = child.get();
        AddChild(std::move(child));
        return raw;
    }
    // Detaches child: its timers stop, and hover, focus and capture forget it and its subtree.
    std::unique_ptr<UIObject> RemoveChild(UIObject* child);
    // Removes and destroys child; while an event is being handled the destruction waits until
    // the handling is over, so a handler may destroy the element that called it.
    void DestroyChild(UIObject* child);
    // Moves child to the end of the list so it paints above its siblings.
    void BringToFront(UIObject* child);
    UIObject* Parent() const { return m_parent; }
    const std::vector<std::unique_ptr<UIObject>>& Children() const { return m_children; }
    UIObject* Root();
    bool IsAncestorOf(const UIObject* element) const; // true for itself too
    // The first descendant (depth-first) with this command id, or null.
    UIObject* FindById(int id);

    // --- Identity and state ---
    int TypeCode() const { return m_typeCode; }
    int Id() const { return m_id; }
    void SetId(int id) { m_id = id; }
    bool IsEnabled() const { return m_enabled; }
    void Enable(bool enabled);
    bool IsVisible() const { return m_visible; }
    void Show(bool visible);
    bool IsHovered() const { return m_hovered; }
    // Elements that are not hit targets let the pointer through to what lies below them.
    void SetHitTarget(bool hit) { m_hitTarget = hit; }
    bool IsHitTarget() const { return m_hitTarget; }
    void SetCursor(NativeCursor cursor) { m_cursor = cursor; }
    NativeCursor Cursor() const { return m_cursor; }
    void SetTooltip(std::string text) { m_tooltip = std::move(text); }
    // Fill colour under the element's drawing, 0xAARRGGBB; 0 = none.
    void SetBackground(uint32_t argb) { m_background = argb; }

    // --- Layout ---
    const CHRect& Rect() const { return m_rect; }
    const UILayout& Layout() const { return m_layout; }
    // Sets the layout rectangle and places the element in its parent.
    void SetLayout(int x, int y, int w, int h);
    void SetLayout(const SkinQuad& size) { SetLayout(size[0], size[1], size[2], size[3]); }
    // Offsets count from the parent's top-left corner even when negative.
    void SetAnchorTopLeft(bool anchored) { m_anchorTopLeft = anchored; }
    // Places the element from its layout rectangle (only when both sizes are positive).
    virtual void UpdateLayout();
    // Places the element by code and lays out its children again.
    void MoveTo(const CHRect& rect);
    // Called after the element moved or its window changed size.
    virtual void AfterLayout() {}

    // --- Painting ---
    // Draws the element itself; children are drawn afterwards by the framework. cr is clipped
    // to the element's part of the dirty rectangle.
    virtual void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty);
    // Marks (part of) the element for repainting; null = the whole element.
    void Invalidate(const CHRect* rect = nullptr);
    void Invalidate(const CHRect& rect) { Invalidate(&rect); }
    // Paints the element and its visible children, clipped to dirty.
    void PaintTree(cairo_t* cr, const CHRect& dirty);
    // Root only: paints dirty into the back buffer (created or resized to the root's size) and
    // returns the buffer's pixels.
    NativePixels RenderBuffer(const CHRect& dirty);
    cairo_surface_t* BackBuffer() const;

    // --- Skin ---
    // Reads the element's look under path (relative to start, null = the skin root).
    virtual bool ApplySkin(IResource* resource, std::string_view path,
                           const Json::Value* start = nullptr);
    // The element's skin node under path, its "size" applied as the layout when it names one;
    // null when there is no resource or no such node.
    const Json::Value* FindSkinNode(IResource* resource, std::string_view path,
                                    const Json::Value* start);

    // --- Element hooks: called by the routing below; true when handled ---
    virtual bool OnElementLButtonUp(int /*x*/, int /*y*/) { return false; }
    virtual bool OnElementLButtonDown(int /*x*/, int /*y*/) { return false; }
    virtual bool OnElementLDoubleClick(int /*x*/, int /*y*/) { return false; }
    virtual bool OnElementRButtonDown(int /*x*/, int /*y*/) { return false; }
    virtual bool OnElementRButtonUp(int /*x*/, int /*y*/) { return false; }
    virtual bool OnElementMouseMove(int /*x*/, int /*y*/) { return false; }
    virtual void OnMouseEnter() {}
    virtual void OnMouseLeave() {}
    // steps > 0: away from the user; < 0: towards the user.
    virtual bool OnElementWheel(int /*steps*/, int /*x*/, int /*y*/) { return false; }
    virtual void OnShown(bool /*visible*/) {}
    virtual std::string TooltipText() { return m_tooltip; }
    virtual void OnElementTimer(int /*timerId*/) {}
    virtual bool OnElementKeyDown(uint32_t /*key*/, unsigned /*modifiers*/) { return false; }
    virtual bool OnElementChar(char32_t /*character*/) { return false; }
    virtual void OnFocusLost(UIObject* /*gaining*/) {}
    virtual void OnFocusGained(UIObject* /*losing*/) {}
    // The cursor to show at (x, y) while the element is the deepest one under the pointer.
    virtual NativeCursor CursorAt(int /*x*/, int /*y*/) { return m_cursor; }
    // A control's report to its owners; climbs the parents. Returns non-zero when handled.
    virtual int NotifyParent(UIObject* source, int code, int id);

    // --- Focus, capture, timers (kept on the root) ---
    void SetFocus();
    UIObject* FocusedElement();
    // While an element holds the capture it receives every mouse move and button-up.
    void SetCapture();
    void ReleaseCapture();
    bool HasCapture();
    // A repeating timer calling OnElementTimer(id); ids grow from 1 (largest in use + 1).
    // 0 when the element's root has no native window.
    int SetElementTimer(int periodMs);
    void KillElementTimer(int timerId);
    size_t TimerCount(); // timers of the whole window
    // The tooltip of the element under the pointer appears after this delay.
    static constexpr int kTooltipDelayMs = 600;
    bool IsTooltipShown();

    // --- Windows ---
    // Makes this element a root with its own native window of options' size, hidden until
    // Show(true).
    bool CreateWindowed(const NativeWindowOptions& options);
    // Invalidates every window (after the skin was re-coloured).
    static void RepaintAllWindows();
    // The native window of the element's root, or null.
    INativeWindow* HostWindow();
    // Feeds a native event as the window would (tests and synthetic input).
    void DispatchEvent(const NativeEvent& event) { OnNativeEvent(event); }

protected:
    void OnNativeEvent(const NativeEvent& event) override;
    void OnMouseMove(const NativeEvent& event) override;
    void OnButtonDown(const NativeEvent& event) override;
    void OnButtonUp(const NativeEvent& event) override;
    void OnDoubleClick(const NativeEvent& event) override;
    void OnWheel(const NativeEvent& event) override;
    void OnMouseLeaveWindow() override;
    void OnKeyDown(const NativeEvent& event) override;
    void OnChar(const NativeEvent& event) override;
    void OnSize(int width, int height) override;
    void OnShowChange(bool shown) override;
    NativePixels OnPaint(const NativeRect& dirty) override;
    // Windowed roots: the point in a band where the window can be dragged or resized.
    // Answer true after starting the drag to swallow the press.
    virtual bool OnFramePress(const NativeEvent& /*press*/) { return false; }

    // The visible hit-target child under (x, y), searching from the last child.
    UIObject* ChildAt(int x, int y) const;
    // The deepest element along the hover chain (the element itself when none).
    UIObject* HoverLeaf();

    int m_typeCode;
    int m_id = 0;

private:
    struct HostState;
    HostState& Host();
    HostState* FindHost();
    void HoverWalk(int x, int y);
    void LeaveChain();
    void ForgetSubtree(UIObject* element);
    void UpdateCursor(int x, int y);
    void UpdateTooltip(UIObject* leaf);
    void ShowTooltip();
    void FireTimer(int timerId);
    void EndDispatch();

    CHRect m_rect;
    UILayout m_layout;
    bool m_enabled = true;
    bool m_visible = true;
    bool m_hovered = false;
    bool m_hitTarget = true;
    bool m_anchorTopLeft = false;
    NativeCursor m_cursor = NativeCursor::Default;
    std::string m_tooltip;
    uint32_t m_background = 0;
    UIObject* m_parent = nullptr;
    UIObject* m_hoverChild = nullptr;
    std::vector<std::unique_ptr<UIObject>> m_children;
    std::unique_ptr<HostState> m_host; // root only
};
