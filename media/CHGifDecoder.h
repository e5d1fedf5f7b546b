#pragma once
// GIF decoding with giflib: the first frame, placed on the logical screen. Transparent pixels
// and screen area the frame does not cover make a 32-bit bitmap with those pixels clear.

#include "media/CHImageDecoder.h"

class CHGifDecoder {
public:
    static bool Decode(std::string_view bytes, DecodedImage& out);
};
