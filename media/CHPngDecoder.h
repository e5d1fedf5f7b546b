#pragma once
// PNG decoding with libpng: palette, grey and 16-bit images are expanded to 8-bit BGR(A);
// images with an alpha channel or a transparent colour become 32-bit premultiplied bitmaps.

#include "media/CHImageDecoder.h"

class CHPngDecoder {
public:
    static bool Decode(std::string_view bytes, DecodedImage& out);
};
