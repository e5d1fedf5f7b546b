#pragma once
// Our own Windows bitmap reader: core, info, V4 and V5 headers; 1, 4, 8, 16, 24 and 32 bits per
// pixel; uncompressed, bit fields, RLE8 and RLE4; bottom-up and top-down rows. Every read is
// bounds-checked; missing pixel data fails the decoding.

#include "media/CHImageDecoder.h"

class CHBmpDecoder {
public:
    static bool Decode(std::string_view bytes, DecodedImage& out);
};
