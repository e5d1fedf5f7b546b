#include "ui/framework/UIObject.h"

#include "ui/framework/CHTooltip.h"
#include "ui/framework/UIGeometry.h"

#include <cairo.h>

#include <algorithm>

struct UIObject::HostState {
    UIObject* focused = nullptr;
    UIObject* capture = nullptr;
    std::map<int, UIObject*> timers;      // element timer id -> element
    std::map<int, uint64_t> nativeTimers; // element timer id -> platform timer
    cairo_surface_t* buffer = nullptr;
    int dispatchDepth = 0;
    // Tooltip: the element it is for, the pending delay timer, the pointer on the screen.
    std::unique_ptr<CHTooltip> tooltip;
    UIObject* tipElement = nullptr;
    uint64_t tipTimer = 0;
    int pointerRootX = 0;
    int pointerRootY = 0;
    std::vector<std::unique_ptr<UIObject>> graveyard; // destroyed once the event is handled
    NativeCursor cursor = NativeCursor::Default;

    void StopTimer(int id) {
        auto native = nativeTimers.find(id);
        if (native != nativeTimers.end()) {
            if (INativePlatform* platform = NativePlatform())
                platform->StopTimer(native->second);
            nativeTimers.erase(native);
        }
        timers.erase(id);
    }

    void StopAllTimers() {
        while (!timers.empty())
            StopTimer(timers.begin()->first);
        CancelTip();
    }

    void CancelTip() {
        if (tipTimer)
            if (INativePlatform* platform = NativePlatform())
                platform->StopTimer(tipTimer);
        tipTimer = 0;
        tipElement = nullptr;
        if (tooltip)
            tooltip->Hide();
    }

    ~HostState() {
        StopAllTimers();
        if (buffer)
            cairo_surface_destroy(buffer);
    }
};

namespace {
// Every element that owns a native window, for repainting them all.
std::vector<UIObject*>& WindowedRoots() {
    static std::vector<UIObject*> roots;
    return roots;
}
} // namespace

UIObject::UIObject(int typeCode) : m_typeCode(typeCode) {}

void UIObject::RepaintAllWindows() {
    for (UIObject* root : WindowedRoots())
        root->Invalidate();
}

UIObject::~UIObject() {
    auto& roots = WindowedRoots();
    roots.erase(std::remove(roots.begin(), roots.end(), this), roots.end());
    if (m_host) {
        // Nothing may fire into the tree while it is taken apart.
        m_host->StopAllTimers();
        m_host->focused = nullptr;
        m_host->capture = nullptr;
        m_host->graveyard.clear();
    }
    m_hoverChild = nullptr;
    for (auto& child : m_children)
        child.reset();
    m_children.clear();
    m_host.reset();
    DestroyNative();
}

// --- Tree ---

UIObject* UIObject::AddChild(std::unique_ptr<UIObject> child) {
    if (!child)
        return nullptr;
    UIObject* raw = child.get();
    raw->m_parent = this;
    m_children.push_back(std::move(child));
    raw->UpdateLayout();
    return raw;
}

std::unique_ptr<UIObject> UIObject::RemoveChild(UIObject* child) {
    auto it = std::find_if(m_children.begin(), m_children.end(),
                           [child](const auto& c) { return c.get() == child; });
    if (it == m_children.end())
        return nullptr;
    if (child->m_visible)
        Invalidate(child->m_rect);
    if (FindHost())
        Root()->ForgetSubtree(child);
    if (m_hoverChild == child)
        m_hoverChild = nullptr;
    std::unique_ptr<UIObject> out = std::move(*it);
    m_children.erase(it);
    out->m_parent = nullptr;
    return out;
}

void UIObject::DestroyChild(UIObject* child) {
    std::unique_ptr<UIObject> gone = RemoveChild(child);
    if (!gone)
        return;
    HostState* host = FindHost();
    if (host && host->dispatchDepth > 0)
        host->graveyard.push_back(std::move(gone));
}

void UIObject::BringToFront(UIObject* child) {
    auto it = std::find_if(m_children.begin(), m_children.end(),
                           [child](const auto& c) { return c.get() == child; });
    if (it == m_children.end() || it + 1 == m_children.end())
        return;
    std::unique_ptr<UIObject> moved = std::move(*it);
    m_children.erase(it);
    m_children.push_back(std::move(moved));
    child->Invalidate();
}

UIObject* UIObject::Root() {
    UIObject* element = this;
    while (element->m_parent)
        element = element->m_parent;
    return element;
}

bool UIObject::IsAncestorOf(const UIObject* element) const {
    for (; element; element = element->m_parent)
        if (element == this)
            return true;
    return false;
}

UIObject* UIObject::FindById(int id) {
    for (auto& child : m_children) {
        if (child->m_id == id)
            return child.get();
        if (UIObject* found = child->FindById(id))
            return found;
    }
    return nullptr;
}

// Clears every reference the root keeps to element or its descendants.
void UIObject::ForgetSubtree(UIObject* element) {
    HostState& host = Host();
    std::vector<int> dead;
    for (const auto& [id, owner] : host.timers)
        if (element->IsAncestorOf(owner))
            dead.push_back(id);
    for (int id : dead)
        host.StopTimer(id);
    if (element->IsAncestorOf(host.focused))
        host.focused = nullptr;
    if (element->IsAncestorOf(host.capture))
        host.capture = nullptr;
    if (element->IsAncestorOf(host.tipElement))
        host.CancelTip();
    // The detached subtree keeps no hover state: a later re-attach starts clean.
    std::vector<UIObject*> pending{element};
    while (!pending.empty()) {
        UIObject* e = pending.back();
        pending.pop_back();
        e->m_hovered = false;
        e->m_hoverChild = nullptr;
        for (auto& child : e->m_children)
            pending.push_back(child.get());
    }
}

// --- State ---

void UIObject::Enable(bool enabled) {
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    Invalidate();
}

void UIObject::Show(bool visible) {
    if (m_visible == visible)
        return;
    if (!visible) {
        Invalidate();
        m_visible = false;
        if (m_hovered)
            LeaveChain();
        if (m_parent && m_parent->m_hoverChild == this)
            m_parent->m_hoverChild = nullptr;
        if (HostState* host = FindHost()) {
            if (IsAncestorOf(host->capture))
                host->capture = nullptr;
            if (IsAncestorOf(host->tipElement))
                host->CancelTip();
        }
    } else {
        m_visible = true;
        Invalidate();
    }
    if (!m_parent && HasNative()) {
        if (visible)
            Native()->Show();
        else
            Native()->Hide();
    }
    OnShown(visible);
}

// --- Layout ---

void UIObject::SetLayout(int x, int y, int w, int h) {
    m_layout = {x, y, w, h};
    UpdateLayout();
}

void UIObject::UpdateLayout() {
    if (!m_parent || m_layout.w <= 0 || m_layout.h <= 0)
        return;
    const CHRect& p = m_parent->m_rect;
    int left, top;
    if (m_anchorTopLeft) {
        left = p.left + m_layout.x;
        top = p.top + m_layout.y;
    } else {
        left = m_layout.x + (m_layout.x < 0 ? p.right : p.left);
        top = m_layout.y + (m_layout.y < 0 ? p.bottom : p.top);
    }
    MoveTo({left, top, left + m_layout.w, top + m_layout.h});
}

void UIObject::MoveTo(const CHRect& rect) {
    if (rect == m_rect)
        return;
    if (m_visible)
        Invalidate();
    m_rect = rect;
    for (auto& child : m_children)
        child->UpdateLayout();
    AfterLayout();
    if (m_visible)
        Invalidate();
}

// --- Painting ---

void UIObject::Draw(cairo_t*, const CHRect&, const CHRect&) {}

void UIObject::Invalidate(const CHRect* rect) {
    CHRect area = rect ? *rect : m_rect;
    if (RectEmpty(area))
        return;
    UIObject* element = this;
    for (; element->m_parent; element = element->m_parent)
        if (!element->m_visible)
            return;
    if (!element->m_visible || !element->HasNative())
        return;
    area = RectIntersect(area, element->m_rect);
    if (!RectEmpty(area))
        element->Native()->Invalidate(NativeFromRect(area));
}

void UIObject::PaintTree(cairo_t* cr, const CHRect& dirty) {
    CHRect clip = RectIntersect(dirty, m_rect);
    if (RectEmpty(clip))
        return;
    cairo_save(cr);
    cairo_rectangle(cr, clip.left, clip.top, RectWidth(clip), RectHeight(clip));
    cairo_clip(cr);
    if (m_background) {
        cairo_set_source_rgba(cr, ((m_background >> 16) & 0xFF) / 255.0,
                              ((m_background >> 8) & 0xFF) / 255.0, (m_background & 0xFF) / 255.0,
                              (m_background >> 24) / 255.0);
        cairo_paint(cr);
    }
    Draw(cr, m_rect, clip);
    for (auto& child : m_children) {
        if (!child->m_visible)
            continue;
        CHRect part = RectIntersect(clip, child->m_rect);
        if (!RectEmpty(part))
            child->PaintTree(cr, part);
    }
    cairo_restore(cr);
}

NativePixels UIObject::RenderBuffer(const CHRect& dirty) {
    int width = RectWidth(m_rect), height = RectHeight(m_rect);
    if (width <= 0 || height <= 0)
        return {};
    HostState& host = Host();
    if (host.buffer && (cairo_image_surface_get_width(host.buffer) != width ||
                        cairo_image_surface_get_height(host.buffer) != height)) {
        cairo_surface_destroy(host.buffer);
        host.buffer = nullptr;
    }
    if (!host.buffer)
        host.buffer = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(host.buffer) != CAIRO_STATUS_SUCCESS)
        return {};
    CHRect clip = RectIntersect(RectOffset(dirty, m_rect.left, m_rect.top), m_rect);
    cairo_t* cr = cairo_create(host.buffer);
    cairo_translate(cr, -m_rect.left, -m_rect.top);
    if (!RectEmpty(clip)) {
        // Transparent first: a translucent window shows what its elements leave uncovered.
        cairo_rectangle(cr, clip.left, clip.top, RectWidth(clip), RectHeight(clip));
        cairo_clip(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        host.dispatchDepth++;
        PaintTree(cr, clip);
        EndDispatch();
    }
    cairo_destroy(cr);
    cairo_surface_flush(host.buffer);
    NativePixels pixels;
    pixels.data = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(host.buffer));
    pixels.width = width;
    pixels.height = height;
    pixels.stride = static_cast<size_t>(cairo_image_surface_get_stride(host.buffer));
    return pixels;
}

cairo_surface_t* UIObject::BackBuffer() const {
    return m_host ? m_host->buffer : nullptr;
}

NativePixels UIObject::OnPaint(const NativeRect& dirty) {
    return RenderBuffer(RectFromNative(dirty));
}

// --- Skin ---

bool UIObject::ApplySkin(IResource*, std::string_view, const Json::Value*) {
    return true;
}

const Json::Value* UIObject::FindSkinNode(IResource* resource, std::string_view path,
                                          const Json::Value* start) {
    if (!resource)
        return nullptr;
    const Json::Value* node = resource->FindNode(path, start);
    if (!node)
        return nullptr;
    SkinQuad size = resource->GetRect("size", node);
    if (size[2] > 0 && size[3] > 0)
        SetLayout(size);
    return node;
}

int UIObject::NotifyParent(UIObject* source, int code, int id) {
    return m_parent ? m_parent->NotifyParent(source, code, id) : 0;
}

// --- Focus, capture, timers ---

UIObject::HostState& UIObject::Host() {
    UIObject* root = Root();
    if (!root->m_host)
        root->m_host = std::make_unique<HostState>();
    return *root->m_host;
}

UIObject::HostState* UIObject::FindHost() {
    return Root()->m_host.get();
}

void UIObject::SetFocus() {
    HostState& host = Host();
    UIObject* old = host.focused;
    if (old == this)
        return;
    host.focused = this;
    if (old)
        old->OnFocusLost(this);
    OnFocusGained(old);
}

UIObject* UIObject::FocusedElement() {
    HostState* host = FindHost();
    return host ? host->focused : nullptr;
}

void UIObject::SetCapture() {
    Host().capture = this;
}

void UIObject::ReleaseCapture() {
    HostState* host = FindHost();
    if (host && host->capture == this)
        host->capture = nullptr;
}

bool UIObject::HasCapture() {
    HostState* host = FindHost();
    return host && host->capture == this;
}

int UIObject::SetElementTimer(int periodMs) {
    UIObject* root = Root();
    INativePlatform* platform = NativePlatform();
    if (!root->HasNative() || !platform)
        return 0;
    HostState& host = root->Host();
    int id = host.timers.empty() ? 1 : host.timers.rbegin()->first + 1;
    uint64_t native = platform->StartTimer(periodMs, [root, id] { root->FireTimer(id); });
    if (native == 0)
        return 0;
    host.timers[id] = this;
    host.nativeTimers[id] = native;
    return id;
}

void UIObject::KillElementTimer(int timerId) {
    HostState* host = FindHost();
    if (!host)
        return;
    auto it = host->timers.find(timerId);
    if (it != host->timers.end() && it->second == this)
        host->StopTimer(timerId);
}

size_t UIObject::TimerCount() {
    HostState* host = FindHost();
    return host ? host->timers.size() : 0;
}

void UIObject::FireTimer(int timerId) {
    HostState& host = Host();
    auto it = host.timers.find(timerId);
    if (it == host.timers.end()) {
        host.StopTimer(timerId);
        return;
    }
    host.dispatchDepth++;
    it->second->OnElementTimer(timerId);
    EndDispatch();
}

void UIObject::EndDispatch() {
    HostState& host = Host();
    if (--host.dispatchDepth == 0 && !host.graveyard.empty()) {
        std::vector<std::unique_ptr<UIObject>> gone = std::move(host.graveyard);
        host.graveyard.clear();
    }
}

// --- Windows ---

bool UIObject::CreateWindowed(const NativeWindowOptions& options) {
    if (m_parent || !CreateNative(options))
        return false;
    Host();
    auto& roots = WindowedRoots();
    if (std::find(roots.begin(), roots.end(), this) == roots.end())
        roots.push_back(this); // a dialog shown again makes a new window for the same object
    MoveTo({0, 0, options.width, options.height});
    m_visible = false; // a new window waits for Show(true)
    return true;
}

INativeWindow* UIObject::HostWindow() {
    return Root()->Native();
}

// --- Event routing (root) ---

void UIObject::OnNativeEvent(const NativeEvent& event) {
    Host().dispatchDepth++;
    CHWindow::OnNativeEvent(event);
    EndDispatch();
}

UIObject* UIObject::ChildAt(int x, int y) const {
    for (auto it = m_children.rbegin(); it != m_children.rend(); ++it) {
        const UIObject* child = it->get();
        if (child->m_visible && child->m_hitTarget && RectContains(child->m_rect, x, y))
            return it->get();
    }
    return nullptr;
}

UIObject* UIObject::HoverLeaf() {
    UIObject* element = this;
    while (element->m_hoverChild)
        element = element->m_hoverChild;
    return element;
}

void UIObject::HoverWalk(int x, int y) {
    if (!m_visible || !RectContains(m_rect, x, y)) {
        if (m_hovered)
            LeaveChain();
        return;
    }
    if (!m_hovered) {
        m_hovered = true;
        OnMouseEnter();
    }
    UIObject* top = ChildAt(x, y);
    if (m_hoverChild && m_hoverChild != top) {
        // Also when the old child is still under the point but a later sibling covers it.
        UIObject* old = m_hoverChild;
        m_hoverChild = nullptr;
        old->LeaveChain();
    }
    OnElementMouseMove(x, y);
    m_hoverChild = top;
    if (top)
        top->HoverWalk(x, y);
}

void UIObject::LeaveChain() {
    if (m_hovered) {
        m_hovered = false;
        OnMouseLeave();
    }
    if (UIObject* child = m_hoverChild) {
        m_hoverChild = nullptr;
        child->LeaveChain();
    }
}

void UIObject::UpdateTooltip(UIObject* leaf) {
    HostState& host = Host();
    if (leaf == host.tipElement)
        return;
    host.CancelTip();
    INativePlatform* platform = NativePlatform();
    if (!platform || !HasNative() || leaf->TooltipText().empty())
        return;
    host.tipElement = leaf;
    host.tipTimer = platform->StartTimer(kTooltipDelayMs, [this] { ShowTooltip(); });
}

void UIObject::ShowTooltip() {
    HostState& host = Host();
    if (host.tipTimer)
        NativePlatform()->StopTimer(host.tipTimer);
    host.tipTimer = 0;
    if (!host.tipElement)
        return;
    if (!host.tooltip)
        host.tooltip = std::make_unique<CHTooltip>();
    host.tooltip->ShowAt(host.pointerRootX + 12, host.pointerRootY + 20,
                         host.tipElement->TooltipText());
}

bool UIObject::IsTooltipShown() {
    HostState* host = FindHost();
    return host && host->tooltip && host->tooltip->IsShown();
}

void UIObject::UpdateCursor(int x, int y) {
    UIObject* leaf = HoverLeaf();
    UpdateTooltip(leaf);
    NativeCursor cursor = leaf->CursorAt(x, y);
    HostState& host = Host();
    if (cursor != host.cursor && HasNative()) {
        host.cursor = cursor;
        Native()->SetCursor(cursor);
    }
}

void UIObject::OnMouseMove(const NativeEvent& event) {
    if (UIObject* capture = Host().capture) {
        capture->OnElementMouseMove(event.x, event.y);
        return;
    }
    Host().pointerRootX = event.rootX;
    Host().pointerRootY = event.rootY;
    HoverWalk(event.x, event.y);
    UpdateCursor(event.x, event.y);
}

namespace {
// Offers an event to target, then to its parents, until one handles it. Disabled or hidden
// targets swallow it.
template <class Call> void Bubble(UIObject* target, Call call) {
    if (!target || !target->IsEnabled() || !target->IsVisible())
        return;
    for (UIObject* element = target; element; element = element->Parent())
        if (element->IsEnabled() && element->IsVisible() && call(element))
            return;
}
} // namespace

void UIObject::OnButtonDown(const NativeEvent& event) {
    HostState& host = Host();
    host.CancelTip();
    if (!host.capture)
        HoverWalk(event.x, event.y);
    if (event.button == MouseButton::Left && !host.capture && OnFramePress(event))
        return;
    UIObject* target = host.capture ? host.capture : HoverLeaf();
    if (!target->m_enabled || !target->m_visible)
        return;
    int x = event.x, y = event.y;
    if (event.button == MouseButton::Left) {
        if (HasNative())
            Native()->GrabFocus();
        target->SetFocus();
        Bubble(target, [x, y](UIObject* e) { return e->OnElementLButtonDown(x, y); });
    } else if (event.button == MouseButton::Right) {
        Bubble(target, [x, y](UIObject* e) { return e->OnElementRButtonDown(x, y); });
    }
}

void UIObject::OnButtonUp(const NativeEvent& event) {
    HostState& host = Host();
    int x = event.x, y = event.y;
    if (UIObject* capture = host.capture) {
        if (event.button == MouseButton::Left)
            capture->OnElementLButtonUp(x, y);
        if (!host.capture) { // released: hover follows the pointer again
            HoverWalk(x, y);
            UpdateCursor(x, y);
        }
        return;
    }
    HoverWalk(x, y);
    UIObject* target = HoverLeaf();
    if (event.button == MouseButton::Left)
        Bubble(target, [x, y](UIObject* e) { return e->OnElementLButtonUp(x, y); });
    else if (event.button == MouseButton::Right)
        Bubble(target, [x, y](UIObject* e) { return e->OnElementRButtonUp(x, y); });
}

void UIObject::OnDoubleClick(const NativeEvent& event) {
    if (event.button != MouseButton::Left || Host().capture)
        return;
    HoverWalk(event.x, event.y);
    int x = event.x, y = event.y;
    Bubble(HoverLeaf(), [x, y](UIObject* e) { return e->OnElementLDoubleClick(x, y); });
}

void UIObject::OnWheel(const NativeEvent& event) {
    int x = event.x, y = event.y, steps = event.wheelSteps;
    if (!Host().capture)
        HoverWalk(x, y);
    Bubble(HoverLeaf(), [=](UIObject* e) { return e->OnElementWheel(steps, x, y); });
}

void UIObject::OnMouseLeaveWindow() {
    Host().CancelTip();
    if (!Host().capture)
        LeaveChain();
}

void UIObject::OnKeyDown(const NativeEvent& event) {
    UIObject* target = Host().focused ? Host().focused : this;
    Bubble(target,
           [&event](UIObject* e) { return e->OnElementKeyDown(event.key, event.modifiers); });
}

void UIObject::OnChar(const NativeEvent& event) {
    UIObject* target = Host().focused ? Host().focused : this;
    Bubble(target, [&event](UIObject* e) { return e->OnElementChar(event.character); });
}

void UIObject::OnShowChange(bool shown) {
    // Shown from outside (presented, restored by the window manager): paint from now on.
    if (shown && !m_visible && !m_parent) {
        m_visible = true;
        Invalidate();
        OnShown(true);
    }
}

void UIObject::OnSize(int width, int height) {
    if (m_parent)
        return;
    m_rect = {0, 0, width, height};
    for (auto& child : m_children)
        child->UpdateLayout();
    AfterLayout();
    Invalidate();
}
