#pragma once
// TIFF decoding with libtiff (first directory), from memory, with libtiff's messages silenced.
// The raster is read as stored; the Orientation tag is reported for the caller to apply.

#include "media/CHImageDecoder.h"

class CHTiffDecoder {
public:
    static bool Decode(std::string_view bytes, const DecodeRequest& request, DecodedImage& out);
};
