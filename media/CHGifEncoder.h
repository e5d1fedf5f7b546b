#pragma once
// GIF encoding with giflib: the colours are reduced to a 256-entry palette; pixels of a 32-bit
// bitmap that are less than half opaque become the transparent colour.

#include "media/CHBitmap.h"

#include <string>

class CHGifEncoder {
public:
    static bool Encode(const CHBitmap& bitmap, std::string& out);
};
