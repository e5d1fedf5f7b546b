#include "platform/PopupMenu.h"

namespace {
PopupMenuBackend& Backend() {
    static PopupMenuBackend backend;
    return backend;
}
} // namespace

void SetPopupMenuBackend(PopupMenuBackend backend) {
    Backend() = std::move(backend);
}

void ShowPopupMenu(const std::vector<PopupMenuItem>& items) {
    if (Backend()) {
        Backend()(items);
    }
}
