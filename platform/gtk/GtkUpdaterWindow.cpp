// The updater's window with GTK's own widgets: a progress bar above a status label and a
// button, in a small decorated window of 430 x 98 pixels, centred.
#include <gtk/gtk.h>

#include <deque>
#include <iostream>
#include <mutex>

#include "platform/UpdaterWindow.h"

namespace {

constexpr int kWidth = 430;
constexpr int kHeight = 98;

class GtkUpdaterWindow : public IUpdaterWindow {
public:
    GtkUpdaterWindow(const std::string& title, Handlers handlers)
        : m_handlers(std::move(handlers)) {
        m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(m_window), title.c_str());
        gtk_window_set_default_size(GTK_WINDOW(m_window), kWidth, kHeight);
        gtk_window_set_resizable(GTK_WINDOW(m_window), FALSE);
        gtk_window_set_position(GTK_WINDOW(m_window), GTK_WIN_POS_CENTER);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
        gtk_container_set_border_width(GTK_CONTAINER(box), 10);
        m_progress = gtk_progress_bar_new();
        GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
        m_label = gtk_label_new("");
        gtk_label_set_ellipsize(GTK_LABEL(m_label), PANGO_ELLIPSIZE_END);
        gtk_label_set_xalign(GTK_LABEL(m_label), 0.0f);
        gtk_widget_set_hexpand(m_label, TRUE);
        m_button = gtk_button_new_with_label("OK");
        gtk_widget_set_can_default(m_button, TRUE);
        gtk_box_pack_start(GTK_BOX(row), m_label, TRUE, TRUE, 0);
        gtk_box_pack_end(GTK_BOX(row), m_button, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(box), m_progress, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(m_window), box);
        gtk_window_set_default(GTK_WINDOW(m_window), m_button);
        g_signal_connect(m_button, "clicked", G_CALLBACK(OnClicked), this);
        g_signal_connect(m_window, "delete-event", G_CALLBACK(OnDelete), this);
        g_signal_connect(m_window, "destroy", G_CALLBACK(OnDestroy), this);
    }

    ~GtkUpdaterWindow() override {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_closed = true;
        m_queue.clear();
        if (m_idleSource != 0) {
            g_source_remove(m_idleSource);
        }
        if (m_window) {
            gtk_widget_destroy(m_window);
        }
    }

    // Every text shown is also written to stdout, so that logs and tests see what the user saw.
    void SetStatus(const std::string& text) override {
        gtk_label_set_text(GTK_LABEL(m_label), text.c_str());
        std::cout << gtk_label_get_text(GTK_LABEL(m_label)) << std::endl;
    }
    void SetProgress(int percent) override {
        double fraction = percent < 0 ? 0.0 : percent > 100 ? 1.0 : percent / 100.0;
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(m_progress), fraction);
        std::cout << "progress "
                  << static_cast<int>(
                         gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(m_progress)) * 100 + 0.5)
                  << std::endl;
    }
    void SetButton(const std::string& text, bool enabled) override {
        gtk_button_set_label(GTK_BUTTON(m_button), text.c_str());
        gtk_widget_set_sensitive(m_button, enabled);
    }

    void Post(std::function<void()> task) override {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_closed) {
            return;
        }
        m_queue.push_back(std::move(task));
        if (m_queue.size() == 1) {
            m_idleSource = g_idle_add(RunQueue, this);
        }
    }

    void StartTimer(int periodMs, std::function<bool()> tick) override {
        auto* held = new std::function<bool()>(std::move(tick));
        g_timeout_add_full(
            G_PRIORITY_DEFAULT, static_cast<guint>(periodMs),
            [](gpointer data) -> gboolean {
                return (*static_cast<std::function<bool()>*>(data))() ? G_SOURCE_CONTINUE
                                                                      : G_SOURCE_REMOVE;
            },
            held, [](gpointer data) { delete static_cast<std::function<bool()>*>(data); });
    }

    void Run() override {
        gtk_widget_show_all(m_window);
        gtk_main();
    }
    void Quit() override { gtk_main_quit(); }

private:
    static gboolean RunQueue(gpointer data) {
        auto* self = static_cast<GtkUpdaterWindow*>(data);
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard<std::mutex> lock(self->m_queueLock);
            tasks.swap(self->m_queue);
            self->m_idleSource = 0;
        }
        for (auto& task : tasks) {
            task();
        }
        return G_SOURCE_REMOVE;
    }
    static void OnClicked(GtkButton*, gpointer data) {
        auto* self = static_cast<GtkUpdaterWindow*>(data);
        if (self->m_handlers.onButton) {
            self->m_handlers.onButton();
        }
    }
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
        auto* self = static_cast<GtkUpdaterWindow*>(data);
        bool close = !self->m_handlers.onCloseRequest || self->m_handlers.onCloseRequest();
        if (close) {
            gtk_main_quit();
        }
        return TRUE; // the window is destroyed with this object, not by the click
    }
    static void OnDestroy(GtkWidget*, gpointer data) {
        static_cast<GtkUpdaterWindow*>(data)->m_window = nullptr;
    }

    Handlers m_handlers;
    GtkWidget* m_window = nullptr;
    GtkWidget* m_progress = nullptr;
    GtkWidget* m_label = nullptr;
    GtkWidget* m_button = nullptr;
    std::mutex m_queueLock;
    std::deque<std::function<void()>> m_queue;
    guint m_idleSource = 0;
    bool m_closed = false;
};

} // namespace

std::unique_ptr<IUpdaterWindow> CreateUpdaterWindow(const std::string& title,
                                                    IUpdaterWindow::Handlers handlers) {
    if (!gtk_init_check(nullptr, nullptr)) {
        return nullptr;
    }
    return std::make_unique<GtkUpdaterWindow>(title, std::move(handlers));
}
