#include "platform/gtk/GtkNativeWindow.h"

#include "platform/gtk/GtkX11Shape.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// Benchmarks time how quickly the UI thread handles a click while phones back up: with
// VELLUMO_UI_CLICK_LOG naming a file, every handled button press appends its monotonic time in
// nanoseconds and its window position.
void LogHandledPress(const NativeEvent& event) {
    static FILE* log = [] {
        const char* path = std::getenv("VELLUMO_UI_CLICK_LOG");
        return path != nullptr && path[0] != '\0' ? std::fopen(path, "ae") : nullptr;
    }();
    if (log == nullptr) {
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long ns = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    std::fprintf(log, "press %lld %d %d\n", ns, event.x, event.y);
    std::fflush(log);
}

unsigned Modifiers(guint state) {
    unsigned out = 0;
    if (state & GDK_SHIFT_MASK)
        out |= NativeModifier::Shift;
    if (state & GDK_CONTROL_MASK)
        out |= NativeModifier::Control;
    if (state & GDK_MOD1_MASK)
        out |= NativeModifier::Alt;
    if (state & GDK_BUTTON1_MASK)
        out |= NativeModifier::LeftButton;
    return out;
}

MouseButton ButtonOf(guint button) {
    switch (button) {
    case 1:
        return MouseButton::Left;
    case 2:
        return MouseButton::Middle;
    case 3:
        return MouseButton::Right;
    default:
        return MouseButton::None;
    }
}

uint32_t KeyCodeOf(guint keyval) {
    switch (keyval) {
    case GDK_KEY_BackSpace:
        return NativeKey::Backspace;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
        return NativeKey::Tab;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
        return NativeKey::Return;
    case GDK_KEY_Escape:
        return NativeKey::Escape;
    case GDK_KEY_space:
        return NativeKey::Space;
    case GDK_KEY_Page_Up:
        return NativeKey::PageUp;
    case GDK_KEY_Page_Down:
        return NativeKey::PageDown;
    case GDK_KEY_End:
    case GDK_KEY_KP_End:
        return NativeKey::End;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home:
        return NativeKey::Home;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left:
        return NativeKey::Left;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
        return NativeKey::Up;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right:
        return NativeKey::Right;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
        return NativeKey::Down;
    case GDK_KEY_Insert:
        return NativeKey::Insert;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete:
        return NativeKey::Delete;
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R:
        return NativeKey::Shift;
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R:
        return NativeKey::Control;
    default:
        break;
    }
    guint upper = gdk_keyval_to_upper(keyval);
    if ((upper >= 'A' && upper <= 'Z') || (upper >= '0' && upper <= '9'))
        return upper;
    return 0;
}

const char* CursorName(NativeCursor cursor) {
    switch (cursor) {
    case NativeCursor::Hand:
        return "pointer";
    case NativeCursor::Text:
        return "text";
    case NativeCursor::Move:
        return "move";
    case NativeCursor::SizeWE:
        return "ew-resize";
    case NativeCursor::SizeNS:
        return "ns-resize";
    case NativeCursor::SizeNWSE:
        return "nwse-resize";
    case NativeCursor::SizeNESW:
        return "nesw-resize";
    case NativeCursor::Wait:
        return "wait";
    default:
        return "default";
    }
}

GdkWindowEdge EdgeOf(NativeEdge edge) {
    switch (edge) {
    case NativeEdge::Top:
        return GDK_WINDOW_EDGE_NORTH;
    case NativeEdge::Bottom:
        return GDK_WINDOW_EDGE_SOUTH;
    case NativeEdge::Left:
        return GDK_WINDOW_EDGE_WEST;
    case NativeEdge::Right:
        return GDK_WINDOW_EDGE_EAST;
    case NativeEdge::TopLeft:
        return GDK_WINDOW_EDGE_NORTH_WEST;
    case NativeEdge::TopRight:
        return GDK_WINDOW_EDGE_NORTH_EAST;
    case NativeEdge::BottomLeft:
        return GDK_WINDOW_EDGE_SOUTH_WEST;
    default:
        return GDK_WINDOW_EDGE_SOUTH_EAST;
    }
}

} // namespace

GtkNativeWindow::GtkNativeWindow(INativeWindowHost* host, const NativeWindowOptions& options,
                                 bool composited)
    : m_host(host), m_width(options.width), m_height(options.height) {
    GtkWidget* widget = gtk_window_new(options.popup ? GTK_WINDOW_POPUP : GTK_WINDOW_TOPLEVEL);
    m_window = GTK_WINDOW(widget);
    g_object_ref_sink(widget);
    gtk_window_set_title(m_window, options.title.c_str());
    gtk_window_set_decorated(m_window, FALSE);
    gtk_widget_set_app_paintable(widget, TRUE);
    gtk_widget_set_can_focus(widget, !options.popup);
    if (!options.taskbar || options.popup) {
        gtk_window_set_skip_taskbar_hint(m_window, TRUE);
        gtk_window_set_skip_pager_hint(m_window, TRUE);
    }
    if (options.translucent && composited) {
        GdkVisual* visual = gdk_screen_get_rgba_visual(gtk_widget_get_screen(widget));
        if (visual) {
            gtk_widget_set_visual(widget, visual);
            m_translucent = true;
        }
    }
    if (options.width > 0 && options.height > 0) {
        gtk_window_set_default_size(m_window, options.width, options.height);
        gtk_widget_set_size_request(widget, 1, 1);
        gtk_window_resize(m_window, options.width, options.height);
    }
    gtk_widget_add_events(widget,
                          GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                              GDK_BUTTON_RELEASE_MASK | GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK |
                              GDK_LEAVE_NOTIFY_MASK | GDK_ENTER_NOTIFY_MASK | GDK_KEY_PRESS_MASK |
                              GDK_KEY_RELEASE_MASK | GDK_FOCUS_CHANGE_MASK | GDK_STRUCTURE_MASK);
    g_signal_connect(widget, "draw", G_CALLBACK(OnDraw), this);
    g_signal_connect(widget, "motion-notify-event", G_CALLBACK(OnMotion), this);
    g_signal_connect(widget, "button-press-event", G_CALLBACK(OnButton), this);
    g_signal_connect(widget, "button-release-event", G_CALLBACK(OnButton), this);
    g_signal_connect(widget, "scroll-event", G_CALLBACK(OnScroll), this);
    g_signal_connect(widget, "leave-notify-event", G_CALLBACK(OnCrossing), this);
    g_signal_connect(widget, "key-press-event", G_CALLBACK(OnKey), this);
    g_signal_connect(widget, "key-release-event", G_CALLBACK(OnKey), this);
    g_signal_connect(widget, "focus-in-event", G_CALLBACK(OnFocus), this);
    g_signal_connect(widget, "focus-out-event", G_CALLBACK(OnFocus), this);
    g_signal_connect(widget, "configure-event", G_CALLBACK(OnConfigure), this);
    g_signal_connect(widget, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(widget, "window-state-event", G_CALLBACK(OnWindowState), this);
    g_signal_connect(widget, "map-event", G_CALLBACK(OnMap), this);
    g_signal_connect(widget, "unmap-event", G_CALLBACK(OnUnmap), this);
    g_signal_connect(widget, "realize", G_CALLBACK(OnRealize), this);
    m_input = gtk_im_multicontext_new();
    g_signal_connect(m_input, "commit", G_CALLBACK(OnInputCommit), this);
}

GtkNativeWindow::~GtkNativeWindow() {
    GtkWidget* widget = GTK_WIDGET(m_window);
    // No host calls from here on, even for events GTK emits while tearing down.
    g_signal_handlers_disconnect_by_data(widget, this);
    g_signal_handlers_disconnect_by_data(m_input, this);
    gtk_im_context_set_client_window(m_input, nullptr);
    g_object_unref(m_input);
    gtk_widget_destroy(widget);
    g_object_unref(widget);
}

void GtkNativeWindow::Deliver(const NativeEvent& event) {
    if (m_host)
        m_host->OnNativeEvent(event);
}

void GtkNativeWindow::Show() {
    gtk_widget_show(GTK_WIDGET(m_window));
}

void GtkNativeWindow::Hide() {
    gtk_widget_hide(GTK_WIDGET(m_window));
}

void GtkNativeWindow::Present() {
    gtk_window_deiconify(m_window);
    gtk_window_present(m_window);
}

void GtkNativeWindow::Iconify() {
    gtk_window_iconify(m_window);
}

void GtkNativeWindow::Maximize(bool on) {
    if (on)
        gtk_window_maximize(m_window);
    else
        gtk_window_unmaximize(m_window);
}

bool GtkNativeWindow::IsVisible() const {
    return gtk_widget_get_visible(GTK_WIDGET(m_window));
}

void GtkNativeWindow::Move(int x, int y) {
    gtk_window_move(m_window, x, y);
}

void GtkNativeWindow::Resize(int width, int height) {
    if (width > 0 && height > 0)
        gtk_window_resize(m_window, width, height);
}

NativeRect GtkNativeWindow::Frame() const {
    NativeRect frame;
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(m_window));
    if (gdk && gtk_widget_get_mapped(GTK_WIDGET(m_window)))
        gdk_window_get_origin(gdk, &frame.x, &frame.y);
    else
        gtk_window_get_position(m_window, &frame.x, &frame.y);
    gtk_window_get_size(m_window, &frame.width, &frame.height);
    return frame;
}

void GtkNativeWindow::BeginMoveDrag(const NativeEvent& press) {
    gtk_window_begin_move_drag(m_window, 1, press.rootX, press.rootY, press.time);
}

void GtkNativeWindow::BeginResizeDrag(NativeEdge edge, const NativeEvent& press) {
    gtk_window_begin_resize_drag(m_window, EdgeOf(edge), 1, press.rootX, press.rootY, press.time);
}

void GtkNativeWindow::SetCursor(NativeCursor cursor) {
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(m_window));
    if (!gdk)
        return;
    GdkCursor* native = gdk_cursor_new_from_name(gdk_window_get_display(gdk), CursorName(cursor));
    gdk_window_set_cursor(gdk, native);
    if (native)
        g_object_unref(native);
}

void GtkNativeWindow::Invalidate(const NativeRect& rect) {
    if (!rect.IsEmpty())
        gtk_widget_queue_draw_area(GTK_WIDGET(m_window), rect.x, rect.y, rect.width, rect.height);
}

void GtkNativeWindow::SetShape(const std::vector<NativeRect>& keep) {
    // GDK keeps the shape and applies it at every map; on X a window already on screen gets it
    // only through the direct call below.
    GtkWidget* widget = GTK_WIDGET(m_window);
    if (keep.empty()) {
        gtk_widget_shape_combine_region(widget, nullptr);
    } else {
        cairo_region_t* region = cairo_region_create();
        for (const NativeRect& r : keep) {
            cairo_rectangle_int_t piece{r.x, r.y, r.width, r.height};
            cairo_region_union_rectangle(region, &piece);
        }
        gtk_widget_shape_combine_region(widget, region);
        cairo_region_destroy(region);
    }
    if (gtk_widget_get_mapped(widget)) {
        ApplyX11WindowShape(gtk_widget_get_window(widget), keep);
    }
}

void GtkNativeWindow::SetSensitive(bool enabled) {
    m_sensitive = enabled;
    gtk_widget_set_sensitive(GTK_WIDGET(m_window), enabled);
}

bool GtkNativeWindow::IsSensitive() const {
    return m_sensitive;
}

void GtkNativeWindow::SetTransientFor(INativeWindow* owner) {
    auto* gtkOwner = dynamic_cast<GtkNativeWindow*>(owner);
    gtk_window_set_transient_for(m_window, gtkOwner ? gtkOwner->m_window : nullptr);
}

void GtkNativeWindow::SetTitle(std::string_view title) {
    std::string text(title);
    gtk_window_set_title(m_window, text.c_str());
}

void GtkNativeWindow::GrabFocus() {
    gtk_widget_grab_focus(GTK_WIDGET(m_window));
}

void GtkNativeWindow::SetTextInput(bool on, const NativeRect& caret) {
    if (on != m_textInput) {
        m_textInput = on;
        if (!on) {
            gtk_im_context_reset(m_input); // an unfinished composition is dropped
            gtk_im_context_focus_out(m_input);
        } else if (m_focused) {
            gtk_im_context_focus_in(m_input);
        }
    }
    if (on) {
        GdkRectangle area{caret.x, caret.y, caret.width, caret.height};
        gtk_im_context_set_cursor_location(m_input, &area);
    }
}

void GtkNativeWindow::OnRealize(GtkWidget* widget, gpointer data) {
    auto* self = static_cast<GtkNativeWindow*>(data);
    gtk_im_context_set_client_window(self->m_input, gtk_widget_get_window(widget));
}

void GtkNativeWindow::OnInputCommit(GtkIMContext*, const gchar* text, gpointer data) {
    auto* self = static_cast<GtkNativeWindow*>(data);
    const gchar* end = nullptr;
    if (text == nullptr || !g_utf8_validate(text, -1, &end))
        return;
    for (const gchar* p = text; *p != 0; p = g_utf8_next_char(p)) {
        NativeEvent event;
        event.kind = NativeEventKind::Char;
        event.character = g_utf8_get_char(p);
        self->Deliver(event);
    }
}

gboolean GtkNativeWindow::OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    auto* self = static_cast<GtkNativeWindow*>(data);
    double x0, y0, x1, y1;
    cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
    NativeRect dirty{static_cast<int>(std::floor(x0)), static_cast<int>(std::floor(y0)), 0, 0};
    dirty.width = static_cast<int>(std::ceil(x1)) - dirty.x;
    dirty.height = static_cast<int>(std::ceil(y1)) - dirty.y;
    if (!self->m_host || dirty.IsEmpty())
        return TRUE;
    NativePixels pixels = self->m_host->OnNativePaint(dirty);
    if (!pixels.data || pixels.width <= 0 || pixels.height <= 0)
        return TRUE;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(pixels.data)), CAIRO_FORMAT_ARGB32,
        pixels.width, pixels.height, static_cast<int>(pixels.stride));
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(surface);
    return TRUE;
}

gboolean GtkNativeWindow::OnMotion(GtkWidget*, GdkEventMotion* e, gpointer data) {
    NativeEvent event;
    event.kind = NativeEventKind::MouseMove;
    event.x = static_cast<int>(std::floor(e->x));
    event.y = static_cast<int>(std::floor(e->y));
    event.rootX = static_cast<int>(e->x_root);
    event.rootY = static_cast<int>(e->y_root);
    event.modifiers = Modifiers(e->state);
    event.time = e->time;
    static_cast<GtkNativeWindow*>(data)->Deliver(event);
    gdk_event_request_motions(e);
    return TRUE;
}

gboolean GtkNativeWindow::OnButton(GtkWidget*, GdkEventButton* e, gpointer data) {
    NativeEvent event;
    switch (e->type) {
    case GDK_BUTTON_PRESS:
        event.kind = NativeEventKind::ButtonDown;
        break;
    case GDK_2BUTTON_PRESS:
        event.kind = NativeEventKind::DoubleClick;
        break;
    case GDK_BUTTON_RELEASE:
        event.kind = NativeEventKind::ButtonUp;
        break;
    default:
        return TRUE;
    }
    event.button = ButtonOf(e->button);
    if (event.button == MouseButton::None)
        return TRUE;
    event.x = static_cast<int>(std::floor(e->x));
    event.y = static_cast<int>(std::floor(e->y));
    event.rootX = static_cast<int>(e->x_root);
    event.rootY = static_cast<int>(e->y_root);
    event.modifiers = Modifiers(e->state);
    event.time = e->time;
    static_cast<GtkNativeWindow*>(data)->Deliver(event);
    if (event.kind == NativeEventKind::ButtonDown) {
        LogHandledPress(event);
    }
    return TRUE;
}

gboolean GtkNativeWindow::OnScroll(GtkWidget*, GdkEventScroll* e, gpointer data) {
    auto* self = static_cast<GtkNativeWindow*>(data);
    int steps = 0;
    if (e->direction == GDK_SCROLL_UP)
        steps = 1;
    else if (e->direction == GDK_SCROLL_DOWN)
        steps = -1;
    else if (e->direction == GDK_SCROLL_SMOOTH) {
        // Touch pads send fractions; one step per whole notch.
        self->m_scrollAccumulator -= e->delta_y;
        steps = static_cast<int>(self->m_scrollAccumulator);
        self->m_scrollAccumulator -= steps;
    }
    if (steps == 0)
        return TRUE;
    NativeEvent event;
    event.kind = NativeEventKind::Wheel;
    event.x = static_cast<int>(std::floor(e->x));
    event.y = static_cast<int>(std::floor(e->y));
    event.rootX = static_cast<int>(e->x_root);
    event.rootY = static_cast<int>(e->y_root);
    event.wheelSteps = steps;
    event.modifiers = Modifiers(e->state);
    event.time = e->time;
    self->Deliver(event);
    return TRUE;
}

gboolean GtkNativeWindow::OnCrossing(GtkWidget*, GdkEventCrossing* e, gpointer data) {
    // Crossing into a child GDK window is not leaving the window.
    if (e->detail == GDK_NOTIFY_INFERIOR)
        return FALSE;
    NativeEvent event;
    event.kind = NativeEventKind::MouseLeave;
    event.time = e->time;
    static_cast<GtkNativeWindow*>(data)->Deliver(event);
    return FALSE;
}

gboolean GtkNativeWindow::OnKey(GtkWidget*, GdkEventKey* e, gpointer data) {
    auto* self = static_cast<GtkNativeWindow*>(data);
    // A text field lets the input method see the key first; what it takes comes back as
    // committed text, so neither a key nor a character is delivered for it here.
    if (self->m_textInput && gtk_im_context_filter_keypress(self->m_input, e))
        return TRUE;
    NativeEvent event;
    event.kind = e->type == GDK_KEY_PRESS ? NativeEventKind::KeyDown : NativeEventKind::KeyUp;
    event.key = KeyCodeOf(e->keyval);
    event.modifiers = Modifiers(e->state);
    event.time = e->time;
    self->Deliver(event);
    if (e->type != GDK_KEY_PRESS)
        return TRUE;
    gunichar ch = gdk_keyval_to_unicode(e->keyval);
    if (ch != 0 && !(e->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK))) {
        NativeEvent text = event;
        text.kind = NativeEventKind::Char;
        text.character = ch;
        self->Deliver(text);
    }
    return TRUE;
}

gboolean GtkNativeWindow::OnFocus(GtkWidget*, GdkEventFocus* e, gpointer data) {
    auto* self = static_cast<GtkNativeWindow*>(data);
    self->m_focused = e->in;
    if (self->m_textInput) {
        if (e->in)
            gtk_im_context_focus_in(self->m_input);
        else
            gtk_im_context_focus_out(self->m_input);
    }
    NativeEvent event;
    event.kind = e->in ? NativeEventKind::FocusIn : NativeEventKind::FocusOut;
    static_cast<GtkNativeWindow*>(data)->Deliver(event);
    return FALSE;
}

gboolean GtkNativeWindow::OnConfigure(GtkWidget*, GdkEventConfigure* e, gpointer data) {
    auto* self = static_cast<GtkNativeWindow*>(data);
    if (e->width != self->m_width || e->height != self->m_height) {
        self->m_width = e->width;
        self->m_height = e->height;
        NativeEvent event;
        event.kind = NativeEventKind::Resized;
        event.width = e->width;
        event.height = e->height;
        self->Deliver(event);
    }
    return FALSE;
}

gboolean GtkNativeWindow::OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    NativeEvent event;
    event.kind = NativeEventKind::CloseRequest;
    static_cast<GtkNativeWindow*>(data)->Deliver(event);
    return TRUE; // the owner decides whether the window goes away
}

gboolean GtkNativeWindow::OnWindowState(GtkWidget*, GdkEventWindowState* e, gpointer data) {
    auto* self = static_cast<GtkNativeWindow*>(data);
    self->m_iconified = (e->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
    NativeEvent event;
    event.kind = NativeEventKind::StateChanged;
    event.iconified = self->m_iconified;
    event.maximized = (e->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    self->Deliver(event);
    return FALSE;
}

gboolean GtkNativeWindow::OnMap(GtkWidget*, GdkEvent*, gpointer data) {
    NativeEvent event;
    event.kind = NativeEventKind::Shown;
    static_cast<GtkNativeWindow*>(data)->Deliver(event);
    return FALSE;
}

gboolean GtkNativeWindow::OnUnmap(GtkWidget*, GdkEvent*, gpointer data) {
    NativeEvent event;
    event.kind = NativeEventKind::Hidden;
    static_cast<GtkNativeWindow*>(data)->Deliver(event);
    return FALSE;
}
