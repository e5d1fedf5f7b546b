#pragma once
// Per-pixel helpers for the 0xAARRGGBB layout of CHBitmap.

#include "media/CHBitmap.h"

#include <cstdint>

class CHPixels {
public:
    // Straight alpha to premultiplied, in place.
    static void Premultiply(CHBitmap& bitmap);
    // One premultiplied pixel back to straight alpha (colour of a transparent pixel is 0).
    static uint32_t Unpremultiply(uint32_t pixel);
    // Premultiplied source over destination.
    static uint32_t Over(uint32_t src, uint32_t dst) {
        uint32_t inv = 255 - (src >> 24);
        if (inv == 0) {
            return src;
        }
        uint32_t out = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            uint32_t s = (src >> shift) & 0xFF;
            uint32_t d = (dst >> shift) & 0xFF;
            uint32_t v = s + Div255(d * inv);
            out |= (v > 255 ? 255 : v) << shift;
        }
        return out;
    }
    // x / 255 rounded, for x in 0..65025.
    static uint32_t Div255(uint32_t x) {
        x += 128;
        return (x + (x >> 8)) >> 8;
    }
};
