#include "platform/gtk/GtkPlatform.h"

#include "platform/UiDispatcher.h"
#include "platform/gtk/GtkNativeWindow.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <unordered_map>

namespace {

// The callable of one GLib timeout; freed by GLib when the source is removed.
struct TimerCall {
    std::function<void()> tick;
};

gboolean RunTimer(gpointer data) {
    static_cast<TimerCall*>(data)->tick();
    return G_SOURCE_CONTINUE;
}

void FreeTimer(gpointer data) {
    delete static_cast<TimerCall*>(data);
}

gboolean RunPendingOnce(gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void FreeRunner(gpointer data) {
    delete static_cast<std::function<void()>*>(data);
}

class GtkPlatform final : public INativePlatform {
public:
    GtkPlatform() {
        // GLib's idle queue is thread-safe: workers may wake the UI thread through it. The
        // runner keeps the dispatcher's queue alive until the idle call has run.
        std::function<void()> runner = m_dispatcher.Runner();
        m_dispatcher.SetWake([runner] {
            g_idle_add_full(G_PRIORITY_DEFAULT, RunPendingOnce, new std::function<void()>(runner),
                            FreeRunner);
        });
    }

    ~GtkPlatform() override {
        m_dispatcher.Shutdown();
        for (auto& [id, source] : m_timers)
            g_source_remove(source);
    }

    std::unique_ptr<INativeWindow> CreateNativeWindow(INativeWindowHost* host,
                                                      const NativeWindowOptions& options) override {
        return std::make_unique<GtkNativeWindow>(host, options, HasCompositor());
    }

    uint64_t StartTimer(int periodMs, std::function<void()> tick) override {
        if (periodMs < 1)
            periodMs = 1;
        guint source = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(periodMs),
                                          RunTimer, new TimerCall{std::move(tick)}, FreeTimer);
        uint64_t id = ++m_lastTimer;
        m_timers[id] = source;
        return id;
    }

    void StopTimer(uint64_t id) override {
        auto it = m_timers.find(id);
        if (it == m_timers.end())
            return;
        guint source = it->second;
        m_timers.erase(it);
        g_source_remove(source);
    }

    bool HasCompositor() const override {
        GdkScreen* screen = gdk_screen_get_default();
        return screen && gdk_screen_is_composited(screen);
    }

    bool PointerPosition(int& rootX, int& rootY) const override {
        GdkDisplay* display = gdk_display_get_default();
        GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
        GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
        if (!pointer)
            return false;
        gdk_device_get_position(pointer, nullptr, &rootX, &rootY);
        return true;
    }

    NativeRect ScreenArea() const override {
        NativeRect area{0, 0, 1024, 768};
        GdkDisplay* display = gdk_display_get_default();
        GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
        if (!monitor && display)
            monitor = gdk_display_get_monitor(display, 0);
        if (monitor) {
            GdkRectangle work;
            gdk_monitor_get_workarea(monitor, &work);
            area = {work.x, work.y, work.width, work.height};
        }
        return area;
    }

    void RunLoop() override {
        while (!m_quit)
            gtk_main_iteration_do(TRUE);
    }

    void QuitLoop() override {
        m_quit = true;
        g_main_context_wakeup(nullptr);
    }

    bool RunNestedUntil(const std::function<bool()>& done) override {
        while (!m_quit && !done())
            gtk_main_iteration_do(TRUE);
        return m_quit;
    }

    CHUiDispatcher& Dispatcher() override { return m_dispatcher; }

    void SetClipboardText(const std::string& text) override {
        GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
        gtk_clipboard_set_text(clipboard, text.data(), static_cast<gint>(text.size()));
        gtk_clipboard_store(clipboard);
    }

    bool GetClipboardText(std::string& text) override {
        gchar* content = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
        if (!content)
            return false;
        text = content;
        g_free(content);
        return true;
    }

private:
    CHUiDispatcher m_dispatcher;
    std::unordered_map<uint64_t, guint> m_timers;
    uint64_t m_lastTimer = 0;
    bool m_quit = false;
};

std::function<int()>& DisplayLostHandler() {
    static std::function<int()> handler;
    return handler;
}

// Xlib calls this when a read or write on the display connection fails; it must not return
// into Xlib, so the process ends here once the handler has stopped everything else.
int OnDisplayLost(Display*) {
    static bool running = false;
    int status = 1;
    if (!running && DisplayLostHandler()) {
        running = true;
        status = DisplayLostHandler()();
    } else {
        std::fputs("vellumo: the connection to the display was lost\n", stderr);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

} // namespace

void SetGtkDisplayLostHandler(std::function<int()> lastWords) {
    DisplayLostHandler() = std::move(lastWords);
    GdkDisplay* display = gdk_display_get_default();
    if (display != nullptr && GDK_IS_X11_DISPLAY(display)) {
        XSetIOErrorHandler(OnDisplayLost);
    }
}

void PrepareGtkEnvironment() {
    setenv("GDK_GL", "disable", 0); // a user's own setting wins
}

std::unique_ptr<INativePlatform> CreateGtkPlatform() {
    if (!gtk_init_check(nullptr, nullptr))
        return nullptr;
    return std::make_unique<GtkPlatform>();
}
