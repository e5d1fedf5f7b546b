#include "media/CHPixels.h"

void CHPixels::Premultiply(CHBitmap& bitmap) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint32_t* row = bitmap.Row(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            uint32_t p = row[x];
            uint32_t a = p >> 24;
            if (a == 255) {
                continue;
            }
            if (a == 0) {
                row[x] = 0;
                continue;
            }
            uint32_t r = Div255(((p >> 16) & 0xFF) * a);
            uint32_t g = Div255(((p >> 8) & 0xFF) * a);
            uint32_t b = Div255((p & 0xFF) * a);
            row[x] = a << 24 | r << 16 | g << 8 | b;
        }
    }
}

uint32_t CHPixels::Unpremultiply(uint32_t p) {
    uint32_t a = p >> 24;
    if (a == 255) {
        return p;
    }
    if (a == 0) {
        return 0;
    }
    auto channel = [a](uint32_t c) {
        uint32_t v = (c * 255 + a / 2) / a;
        return v > 255 ? 255u : v;
    };
    return a << 24 | channel((p >> 16) & 0xFF) << 16 | channel((p >> 8) & 0xFF) << 8 |
           channel(p & 0xFF);
}
