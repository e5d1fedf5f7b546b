#pragma once
// Resampling between bitmaps: an area-averaging filter when shrinking (each output pixel is the
// coverage-weighted mean of the source pixels under it) and linear interpolation when
// enlarging. Premultiplied pixels are averaged as they are, which is correct for alpha.

#include "media/CHBitmap.h"

class CHImageScaler {
public:
    // Resamples the source rectangle (in source pixels, fractional allowed) into the
    // destination rectangle of dst, replacing its pixels. Parts of the destination rectangle
    // outside dst are skipped. False when either bitmap is empty or a rectangle is empty.
    static bool Scale(const CHBitmap& src, double sx, double sy, double sw, double sh,
                      CHBitmap& dst, int dx, int dy, int dw, int dh);
};
