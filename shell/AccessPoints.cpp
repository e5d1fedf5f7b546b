#include "shell/AccessPoints.h"

#include <atomic>

namespace {
std::atomic<IMainWnd*> g_mainWnd{nullptr};
std::atomic<IDBCenter*> g_db{nullptr};
std::atomic<IResource*> g_resource{nullptr};
std::atomic<CNotifyHub*> g_hub{nullptr};
} // namespace

IMainWnd* GetMainWnd() {
    return g_mainWnd.load(std::memory_order_acquire);
}
IDBCenter* GetDBCenter() {
    return g_db.load(std::memory_order_acquire);
}
IResource* GetResource() {
    return g_resource.load(std::memory_order_acquire);
}
CNotifyHub* GetNotifyHub() {
    return g_hub.load(std::memory_order_acquire);
}

void PublishAccessPoints(IMainWnd* mainWnd, IDBCenter* db, IResource* resource, CNotifyHub* hub) {
    g_mainWnd.store(mainWnd, std::memory_order_release);
    g_db.store(db, std::memory_order_release);
    g_resource.store(resource, std::memory_order_release);
    g_hub.store(hub, std::memory_order_release);
}

void ClearAccessPoints() {
    PublishAccessPoints(nullptr, nullptr, nullptr, nullptr);
}
