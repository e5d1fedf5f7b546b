#pragma once
// JPEG decoding with libjpeg-turbo. When the request gives a minimum scale, the image is
// decoded at the smallest DCT scale M/8 that is not below it, so a 12-megapixel photo becomes a
// thumbnail without ever being decoded at full size.

#include "media/CHImageDecoder.h"

class CHJpegDecoder {
public:
    static bool Decode(std::string_view bytes, const DecodeRequest& request, DecodedImage& out);
    // More scans than this in a progressive file is treated as hostile.
    static constexpr int kMaxScans = 500;
};
