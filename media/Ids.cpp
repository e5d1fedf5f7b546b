#include "media/Ids.h"

#include "platform/Folders.h"
#include "platform/Random.h"

#include <cstdio>

uint64_t NewId64() {
    Guid guid = NewGuid();
    return static_cast<uint64_t>(guid.data1) | (static_cast<uint64_t>(guid.data2) << 32) |
           (static_cast<uint64_t>(guid.data3) << 48);
}

std::filesystem::path NewTempImagePath() {
    Guid g = NewGuid();
    char name[48];
    std::snprintf(name, sizeof(name), "%08x%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x.jpg",
                  static_cast<unsigned>(g.data1), static_cast<unsigned>(g.data2),
                  static_cast<unsigned>(g.data3), g.data4[0], g.data4[1], g.data4[2], g.data4[3],
                  g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return GetTempDir() / name;
}
