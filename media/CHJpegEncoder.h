#pragma once
// JPEG encoding with libjpeg-turbo, in memory. 32-bit bitmaps are written as their colour over
// black (JPEG has no alpha).

#include "media/CHBitmap.h"

#include <string>

class CHJpegEncoder {
public:
    static bool Encode(const CHBitmap& bitmap, int quality, std::string& out);
};
