#include "platform/gtk/GtkDesktop.h"

#include <gdk/gdkx.h>
#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

#include <string>
#include <utility>

namespace {

// A StatusNotifier host (KDE, XFCE, Cinnamon, GNOME with the extension) runs the watcher.
bool HasStatusNotifierWatcher() {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) {
        return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", "org.kde.StatusNotifierWatcher"),
        G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
    gboolean owned = FALSE;
    if (reply != nullptr) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    g_object_unref(bus);
    return owned;
}

// An XEmbed system tray owns the selection _NET_SYSTEM_TRAY_S<screen>.
bool HasXEmbedTray() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) {
        return false;
    }
    Display* xdisplay = gdk_x11_display_get_xdisplay(display);
    std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(xdisplay));
    Atom selection = XInternAtom(xdisplay, name.c_str(), False);
    return XGetSelectionOwner(xdisplay, selection) != None;
}

GdkPixbuf* PixbufFromPng(const std::vector<uint8_t>& png) {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    if (loader == nullptr) {
        return nullptr;
    }
    GdkPixbuf* pixbuf = nullptr;
    if (gdk_pixbuf_loader_write(loader, png.data(), png.size(), nullptr) &&
        gdk_pixbuf_loader_close(loader, nullptr)) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf != nullptr) {
            g_object_ref(pixbuf);
        }
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    return pixbuf;
}

struct MenuCallback {
    std::function<void()> activate;
};

void OnMenuItem(GtkMenuItem*, gpointer data) {
    auto* callback = static_cast<MenuCallback*>(data);
    if (callback->activate) {
        callback->activate();
    }
}

void FreeMenuCallback(gpointer data, GClosure*) {
    delete static_cast<MenuCallback*>(data);
}

// The menu both kinds of icon show; the first item also serves the StatusNotifier middle-click.
GtkWidget* BuildMenu(const std::vector<TrayMenuItem>& items, GtkWidget** first) {
    GtkWidget* menu = gtk_menu_new();
    *first = nullptr;
    for (const TrayMenuItem& item : items) {
        GtkWidget* widget = item.label.empty() ? gtk_separator_menu_item_new()
                                               : gtk_menu_item_new_with_label(item.label.c_str());
        if (!item.label.empty()) {
            g_signal_connect_data(widget, "activate", G_CALLBACK(OnMenuItem),
                                  new MenuCallback{item.activate}, FreeMenuCallback,
                                  GConnectFlags(0));
            if (*first == nullptr) {
                *first = widget;
            }
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
    }
    gtk_widget_show_all(menu);
    g_object_ref_sink(menu);
    return menu;
}

class CHStatusNotifierIcon final : public ITrayIcon {
public:
    explicit CHStatusNotifierIcon(const TrayIconOptions& options) {
        GtkWidget* first = nullptr;
        m_menu = BuildMenu(options.menu, &first);
        // The host loads the icon by name from a theme folder of our own.
        m_themeDir = WriteIconTheme(options.iconPng);
        m_indicator = app_indicator_new_with_path(options.id.c_str(), "vellumo-tray",
                                                  APP_INDICATOR_CATEGORY_APPLICATION_STATUS,
                                                  m_themeDir.c_str());
        app_indicator_set_menu(m_indicator, GTK_MENU(m_menu));
        if (first != nullptr) {
            app_indicator_set_secondary_activate_target(m_indicator, first);
        }
        SetTip(options.tip);
        app_indicator_set_status(m_indicator, APP_INDICATOR_STATUS_ACTIVE);
    }

    ~CHStatusNotifierIcon() override {
        app_indicator_set_status(m_indicator, APP_INDICATOR_STATUS_PASSIVE);
        g_object_unref(m_indicator);
        g_object_unref(m_menu);
        if (!m_themeDir.empty()) {
            g_remove((m_themeDir + "/vellumo-tray.png").c_str());
            g_rmdir(m_themeDir.c_str());
        }
    }

    TrayKind Kind() const override { return TrayKind::StatusNotifier; }

    void SetTip(const std::string& tip) override {
        app_indicator_set_title(m_indicator, tip.c_str());
    }

private:
    static std::string WriteIconTheme(const std::vector<uint8_t>& png) {
        gchar* dir = g_dir_make_tmp("vellumo-tray-XXXXXX", nullptr);
        if (dir == nullptr) {
            return {};
        }
        std::string folder = dir;
        g_free(dir);
        g_file_set_contents((folder + "/vellumo-tray.png").c_str(),
                            reinterpret_cast<const gchar*>(png.data()), gssize(png.size()),
                            nullptr);
        return folder;
    }

    AppIndicator* m_indicator = nullptr;
    GtkWidget* m_menu = nullptr;
    std::string m_themeDir;
};

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

class CHXEmbedIcon final : public ITrayIcon {
public:
    explicit CHXEmbedIcon(const TrayIconOptions& options) : m_activate(options.activate) {
        GtkWidget* first = nullptr;
        m_menu = BuildMenu(options.menu, &first);
        GdkPixbuf* pixbuf = PixbufFromPng(options.iconPng);
        m_icon = pixbuf != nullptr ? gtk_status_icon_new_from_pixbuf(pixbuf)
                                   : gtk_status_icon_new_from_icon_name("image-x-generic");
        if (pixbuf != nullptr) {
            g_object_unref(pixbuf);
        }
        gtk_status_icon_set_name(m_icon, options.id.c_str());
        gtk_status_icon_set_title(m_icon, "Vellumo");
        SetTip(options.tip);
        g_signal_connect(m_icon, "button-press-event", G_CALLBACK(OnButtonPress), this);
        g_signal_connect(m_icon, "popup-menu", G_CALLBACK(OnPopupMenu), this);
        gtk_status_icon_set_visible(m_icon, TRUE);
    }

    ~CHXEmbedIcon() override {
        g_signal_handlers_disconnect_by_data(m_icon, this);
        gtk_status_icon_set_visible(m_icon, FALSE);
        g_object_unref(m_icon);
        g_object_unref(m_menu);
    }

    TrayKind Kind() const override { return TrayKind::XEmbed; }

    void SetTip(const std::string& tip) override {
        gtk_status_icon_set_tooltip_text(m_icon, tip.c_str());
    }

private:
    static gboolean OnButtonPress(GtkStatusIcon*, GdkEventButton* event, gpointer data) {
        auto* self = static_cast<CHXEmbedIcon*>(data);
        if (event->type == GDK_2BUTTON_PRESS && event->button == 1 && self->m_activate) {
            self->m_activate();
            return TRUE;
        }
        return FALSE;
    }

    static void OnPopupMenu(GtkStatusIcon*, guint, guint, gpointer data) {
        auto* self = static_cast<CHXEmbedIcon*>(data);
        gtk_menu_popup_at_pointer(GTK_MENU(self->m_menu), nullptr);
    }

    GtkStatusIcon* m_icon = nullptr;
    GtkWidget* m_menu = nullptr;
    std::function<void()> m_activate;
};

G_GNUC_END_IGNORE_DEPRECATIONS

} // namespace

std::unique_ptr<ITrayIcon> CreateGtkTrayIcon(const TrayIconOptions& options) {
    if (HasStatusNotifierWatcher()) {
        return std::make_unique<CHStatusNotifierIcon>(options);
    }
    if (HasXEmbedTray()) {
        return std::make_unique<CHXEmbedIcon>(options);
    }
    return nullptr;
}
