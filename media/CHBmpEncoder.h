#pragma once
// Windows bitmap files, rows bottom-up: 24-bit bitmaps as BI_RGB with a 40-byte info header;
// 32-bit ones as BI_BITFIELDS with a V5 header whose alpha mask carries straight alpha, so other
// readers see the transparency too.

#include "media/CHBitmap.h"

#include <string>

class CHBmpEncoder {
public:
    static bool Encode(const CHBitmap& bitmap, std::string& out);
};
