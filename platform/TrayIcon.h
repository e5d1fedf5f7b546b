#pragma once
// The notification-area icon with its menu, and desktop notifications (the tray's balloons).
// Backends: platform/gtk (a StatusNotifierItem where the session has a host, else an XEmbed
// icon, else none). Everything here runs on the UI thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TrayMenuItem {
    std::string label; // empty: a separator
    std::function<void()> activate;
};

struct TrayIconOptions {
    std::string id = "vellumo";
    std::string tip;
    std::vector<uint8_t> iconPng; // the icon as PNG bytes (a square picture, 22 to 64 pixels)
    std::vector<TrayMenuItem> menu;
    // The icon's own "open" gesture: a double-click on an XEmbed icon, a middle-click on a
    // StatusNotifierItem (whose hosts report no double-click).
    std::function<void()> activate;
};

enum class TrayKind { None, StatusNotifier, XEmbed };

class ITrayIcon {
public:
    virtual ~ITrayIcon() = default; // removes the icon
    virtual TrayKind Kind() const = 0;
    virtual void SetTip(const std::string& tip) = 0;
};

class IDesktopNotifier {
public:
    virtual ~IDesktopNotifier() = default;
    // Shows title and text (plain text: markup in it is shown as written); clicked runs when the
    // user clicks the notification. False when no notification service answered.
    virtual bool Notify(const std::string& title, const std::string& text,
                        std::function<void()> clicked) = 0;
};
