#include "platform/Resources.h"

#include <map>
#include <mutex>
#include <utility>

namespace {

struct Registry {
    std::mutex lock;
    std::map<std::pair<std::string, int>, std::string, std::less<>> items;
};

// Function-local so that registrations from static initialisers in other files find it built.
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

} // namespace

void RegisterResource(std::string_view type, int id, std::string_view bytes) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    registry.items[{std::string(type), id}] = std::string(bytes);
}

bool LoadResourceBytes(std::string_view type, int id, std::string& out) {
    out.clear();
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    auto it = registry.items.find(std::make_pair(std::string(type), id));
    if (it == registry.items.end()) {
        return false;
    }
    out = it->second;
    return !out.empty();
}
