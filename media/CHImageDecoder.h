#pragma once
// Decodes the first image of a JPEG, PNG, GIF, TIFF or BMP file, or the primary image of a HEIF
// or AVIF file, into a CHBitmap, picking the decoder from the file's signature. Every decoder
// refuses an image whose declared pixel count exceeds CHBitmap::PixelLimit() before it allocates
// pixel memory, and fails cleanly (never crashes, never loops without end) on truncated, corrupt or
// hostile bytes.

#include "media/CHBitmap.h"
#include "media/ImageHeader.h"

#include <functional>
#include <string_view>

struct DecodeRequest {
    // Given the full stored size and the EXIF orientation, the smallest scale (relative to the
    // full size) the caller can use. Decoders that can shrink while decoding (JPEG) pick the
    // smallest scale not below it; null means full size.
    std::function<double(int width, int height, int orientation)> minScale;
    // Read the EXIF orientation (JPEG, TIFF); otherwise it is reported as 1. HEIF images come
    // out upright already and always report 1.
    bool wantOrientation = false;
};

struct DecodedImage {
    CHBitmap bitmap;   // as stored (not yet turned upright), maybe at a reduced scale
    int fullWidth = 0; // stored size at full scale (HEIF: the upright size)
    int fullHeight = 0;
    int orientation = 1;
    bool hasAlpha = false; // bitmap has 32 bits
};

class CHImageDecoder {
public:
    static ImageFormat Sniff(std::string_view bytes);
    static bool Decode(std::string_view bytes, const DecodeRequest& request, DecodedImage& out);
    // True when width * height may be decoded: both positive and within the pixel limit.
    static bool SizeAllowed(int64_t width, int64_t height);
};
