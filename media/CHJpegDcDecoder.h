#pragma once
// A fast path for the commonest thumbnail case: a baseline JPEG wanted at 1/8 of its size. At
// that scale every 8 x 8 block becomes one pixel, its DC value, so the AC coefficients only need
// to be stepped over, not decoded: one table look-up per coefficient skips its Huffman code and
// its extra bits together. The result is the image libjpeg produces at scale 1/8 (DC
// prediction, dequantisation, centred chroma upsampling, JFIF colour conversion).
//
// Anything outside that case (progressive or arithmetic coding, 12-bit samples, Adobe colour
// transforms, CMYK, more than one scan) and any damage are reported as false; the caller then
// decodes with libjpeg, which decides what the file is worth.

#include "media/CHBitmap.h"

#include <functional>
#include <string_view>

class CHJpegDcDecoder {
public:
    // wantEighth(width, height) is asked once the frame header is read; decoding goes on only
    // when it answers true. On success out holds ceil(width / 8) x ceil(height / 8) pixels.
    static bool Decode(std::string_view jpeg, const std::function<bool(int, int)>& wantEighth,
                       CHBitmap& out, int& width, int& height);
};
