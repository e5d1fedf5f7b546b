// Pop-up menus at the pointer as GTK menus. A menu is destroyed once it closed, from an idle
// callback, because GTK emits the chosen item's "activate" after the menu's "deactivate".

#include "platform/PopupMenu.h"
#include "platform/gtk/GtkDesktop.h"

#include <gtk/gtk.h>

namespace {

struct ItemCallback {
    std::function<void()> activate;
};

void OnItem(GtkMenuItem*, gpointer data) {
    auto* callback = static_cast<ItemCallback*>(data);
    if (callback->activate) {
        callback->activate();
    }
}

void FreeItem(gpointer data, GClosure*) {
    delete static_cast<ItemCallback*>(data);
}

gboolean DestroyLater(gpointer menu) {
    gtk_widget_destroy(GTK_WIDGET(menu));
    g_object_unref(menu);
    return G_SOURCE_REMOVE;
}

void OnDeactivate(GtkMenuShell* menu, gpointer) {
    g_idle_add(DestroyLater, menu);
}

void ShowGtkPopupMenu(const std::vector<PopupMenuItem>& items) {
    GtkWidget* menu = gtk_menu_new();
    g_object_ref_sink(menu);
    for (const PopupMenuItem& item : items) {
        GtkWidget* widget = gtk_menu_item_new_with_label(item.label.c_str());
        gtk_widget_set_sensitive(widget, item.enabled);
        g_signal_connect_data(widget, "activate", G_CALLBACK(OnItem),
                              new ItemCallback{item.activate}, FreeItem, GConnectFlags(0));
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
    }
    gtk_widget_show_all(menu);
    g_signal_connect(menu, "deactivate", G_CALLBACK(OnDeactivate), nullptr);
    gtk_menu_popup_at_pointer(GTK_MENU(menu), nullptr);
    if (!gtk_widget_get_visible(menu)) {
        g_idle_add(DestroyLater, menu); // no pointer grab: the menu never opened
    }
}

} // namespace

void InstallGtkPopupMenus() {
    SetPopupMenuBackend(ShowGtkPopupMenu);
}
