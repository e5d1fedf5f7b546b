#include "platform/NativeWindow.h"

namespace {
INativePlatform* g_platform = nullptr;
}

INativePlatform* NativePlatform() {
    return g_platform;
}

void SetNativePlatform(INativePlatform* platform) {
    g_platform = platform;
}
