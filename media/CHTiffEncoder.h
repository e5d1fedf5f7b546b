#pragma once
// TIFF encoding with libtiff, in memory: 8-bit RGB (24-bit bitmaps) or RGBA with associated
// alpha (32-bit), LZW-compressed strips.

#include "media/CHBitmap.h"

#include <string>

class CHTiffEncoder {
public:
    static bool Encode(const CHBitmap& bitmap, std::string& out);
};
