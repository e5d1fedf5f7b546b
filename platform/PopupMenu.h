#pragma once
// Pop-up menus at the pointer (the device panel's "删除设备"). The desktop backend installs the
// real menu; without one nothing is shown. UI thread only.

#include <functional>
#include <string>
#include <vector>

struct PopupMenuItem {
    std::string label;
    bool enabled = true;
    std::function<void()> activate; // runs on the UI thread after the menu closed
};

using PopupMenuBackend = std::function<void(const std::vector<PopupMenuItem>& items)>;
void SetPopupMenuBackend(PopupMenuBackend backend);
void ShowPopupMenu(const std::vector<PopupMenuItem>& items);
