// Update packages are untrusted: their entry names and their script must never yield a path
// that leaves its root, whatever the bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "updater/SafePaths.h"
#include "updater/UpgradeScript.h"

namespace {

void CheckRelative(const std::string& path) {
    if (path.empty() || path.front() == '/' || path.find('\\') != std::string::npos ||
        path.find('\0') != std::string::npos) {
        std::abort();
    }
    for (const std::string& part : SplitComponents(path)) {
        if (part == ".." || part == "." || part.empty()) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string name;
    if (NormalizePackageName(text, name)) {
        CheckRelative(name);
        if (!IsValidUtf8(name)) {
            std::abort();
        }
    }
    UpgradePlan plan;
    std::string error;
    if (ParseUpgradeScript(text, "/package", "/install", "vellumo", false, plan, error) ==
        ScriptResult::Ok) {
        for (const std::string& remove : plan.removes) {
            CheckRelative(remove);
        }
        for (const UpgradePlan::Copy& copy : plan.copies) {
            CheckRelative(copy.source);
            CheckRelative(copy.destination);
        }
        std::string last = plan.lastRun.string();
        if (!last.empty()) {
            if (last.rfind("/install/", 0) != 0) {
                std::abort();
            }
            CheckRelative(last.substr(9));
        }
    }
    return 0;
}
