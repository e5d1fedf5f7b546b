#include "media/CHImageDecoder.h"

#include "media/CHBmpDecoder.h"
#include "media/CHGifDecoder.h"
#include "media/CHHeifContainer.h"
#include "media/CHHeifDecoder.h"
#include "media/CHJpegDecoder.h"
#include "media/CHPngDecoder.h"
#include "media/CHTiffDecoder.h"

#include <cstring>

ImageFormat CHImageDecoder::Sniff(std::string_view b) {
    auto starts = [&](const char* magic, size_t n) {
        return b.size() >= n && std::memcmp(b.data(), magic, n) == 0;
    };
    if (starts("\xFF\xD8\xFF", 3)) {
        return ImageFormat::Jpeg;
    }
    if (starts("\x89PNG\r\n\x1A\n", 8)) {
        return ImageFormat::Png;
    }
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) {
        return ImageFormat::Gif;
    }
    if (starts("II*\0", 4) || starts("MM\0*", 4)) {
        return ImageFormat::Tiff;
    }
    if (starts("BM", 2)) {
        return ImageFormat::Bmp;
    }
    if (CHHeifContainer::HasHeifBrand(b)) {
        return ImageFormat::Heif;
    }
    return ImageFormat::Unknown;
}

bool CHImageDecoder::SizeAllowed(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) {
        return false;
    }
    return static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= CHBitmap::PixelLimit();
}

bool CHImageDecoder::Decode(std::string_view bytes, const DecodeRequest& request,
                            DecodedImage& out) {
    out.bitmap.Release();
    out.fullWidth = out.fullHeight = 0;
    out.orientation = 1;
    out.hasAlpha = false;
    // The size the headers declare is checked before any decoder allocates; each decoder
    // checks again the size it is about to decode.
    int declaredWidth = 0;
    int declaredHeight = 0;
    if (ReadImageSize(bytes, declaredWidth, declaredHeight) &&
        !SizeAllowed(declaredWidth, declaredHeight)) {
        return false;
    }
    bool ok = false;
    switch (Sniff(bytes)) {
    case ImageFormat::Jpeg:
        ok = CHJpegDecoder::Decode(bytes, request, out);
        break;
    case ImageFormat::Png:
        ok = CHPngDecoder::Decode(bytes, out);
        break;
    case ImageFormat::Gif:
        ok = CHGifDecoder::Decode(bytes, out);
        break;
    case ImageFormat::Tiff:
        ok = CHTiffDecoder::Decode(bytes, request, out);
        break;
    case ImageFormat::Bmp:
        ok = CHBmpDecoder::Decode(bytes, out);
        break;
    case ImageFormat::Heif:
        ok = CHHeifDecoder::Decode(bytes, request, out);
        break;
    case ImageFormat::Unknown:
        break;
    }
    if (!ok) {
        out.bitmap.Release();
        out.fullWidth = out.fullHeight = 0;
        return false;
    }
    out.hasAlpha = out.bitmap.BitsPerPixel() == 32;
    return true;
}
