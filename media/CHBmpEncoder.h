#pragma once
// Windows bitmap files: BITMAPFILEHEADER, a 40-byte info header, BI_RGB rows bottom-up; 24 bits
// for 24-bit bitmaps, 32 (premultiplied BGRA, as Windows draws them) for 32-bit ones.

#include "media/CHBitmap.h"

#include <string>

class CHBmpEncoder {
public:
    static bool Encode(const CHBitmap& bitmap, std::string& out);
};
