#pragma once
// The desktop services of the GTK backend beyond windows: the tray icon, desktop
// notifications and the dialog backend. Free of GTK types, like GtkPlatform.h.

#include "platform/TrayIcon.h"

#include <memory>
#include <string>

// The tray icon the session can show: a StatusNotifierItem when a StatusNotifierWatcher is on
// the session bus, else an XEmbed icon when an X system tray is running, else null.
std::unique_ptr<ITrayIcon> CreateGtkTrayIcon(const TrayIconOptions& options);

// Notifications through the desktop notification service; null when libnotify can't start.
std::unique_ptr<IDesktopNotifier> CreateGtkNotifier(const std::string& appName);

// Installs GTK message boxes, the OK/Cancel question and the file and folder choosers as the
// dialog backend. Call on the UI thread; worker threads may then show dialogs too (they wait
// for the answer, the UI thread never waits for them).
void InstallGtkDialogBackend();
// Shows platform/PopupMenu.h's menus as GTK menus at the pointer.
void InstallGtkPopupMenus();

// Answers every open and pending dialog with Cancel and makes later ones answer Cancel at
// once, so no worker stays blocked on a dialog while it is being joined at shut-down.
void CloseGtkDialogs();
// The part of CloseGtkDialogs that touches no GTK: waiting workers get Cancel, later dialogs
// answer Cancel at once. For a shutdown after the display is gone.
void ReleaseGtkDialogWaiters();
