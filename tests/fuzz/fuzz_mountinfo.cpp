// The mount table parser and the drive choice on arbitrary text.

#include "platform/DriveList.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<MountEntry> entries = ParseMountInfo(text);
    std::vector<MountEntry> kept = SelectPhotoMounts(entries);
    if (kept.size() > entries.size()) {
        __builtin_trap();
    }
    DriveList list = ListDrives(text, "/home/fuzz", [](const fs::path& point) {
        return DriveSpace{true, 1000, point.string().size()};
    });
    if (list.drives.size() > kMaxDriveTiles || (list.recommended >= 0) != !list.drives.empty() ||
        list.recommended >= static_cast<int>(list.drives.size())) {
        __builtin_trap();
    }
    return 0;
}
