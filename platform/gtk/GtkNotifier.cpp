#include "platform/gtk/GtkDesktop.h"

#include <glib.h>
#include <libnotify/notify.h>

#include <utility>

namespace {

struct ClickAction {
    std::function<void()> clicked;
};

void OnClicked(NotifyNotification*, char*, gpointer data) {
    auto* action = static_cast<ClickAction*>(data);
    if (action->clicked) {
        action->clicked();
    }
}

void FreeAction(gpointer data) {
    delete static_cast<ClickAction*>(data);
}

void OnClosed(NotifyNotification* notification, gpointer) {
    g_object_unref(notification);
}

class CHGtkNotifier final : public IDesktopNotifier {
public:
    ~CHGtkNotifier() override { notify_uninit(); }

    bool Notify(const std::string& title, const std::string& text,
                std::function<void()> clicked) override {
        // Bodies are markup for most servers: text from phones is shown as written.
        gchar* body = g_markup_escape_text(text.c_str(), -1);
        NotifyNotification* notification =
            notify_notification_new(title.c_str(), body, "dialog-information");
        g_free(body);
        auto* action = new ClickAction{std::move(clicked)};
        notify_notification_add_action(notification, "default", "打开", OnClicked, action,
                                       FreeAction);
        g_signal_connect(notification, "closed", G_CALLBACK(OnClosed), nullptr);
        GError* error = nullptr;
        if (!notify_notification_show(notification, &error)) {
            g_clear_error(&error);
            g_object_unref(notification);
            return false;
        }
        return true;
    }
};

} // namespace

std::unique_ptr<IDesktopNotifier> CreateGtkNotifier(const std::string& appName) {
    if (!notify_is_initted() && !notify_init(appName.c_str())) {
        return nullptr;
    }
    return std::make_unique<CHGtkNotifier>();
}
