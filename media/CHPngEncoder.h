#pragma once
// PNG encoding with libpng, in memory: RGB for 24-bit bitmaps, RGBA (straight alpha) for 32.

#include "media/CHBitmap.h"

#include <string>

class CHPngEncoder {
public:
    static bool Encode(const CHBitmap& bitmap, std::string& out);
};
