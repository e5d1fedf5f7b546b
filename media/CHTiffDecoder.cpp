#include "media/CHTiffDecoder.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct TiffSource {
    std::string_view bytes;
    uint64_t pos = 0;
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* source = static_cast<TiffSource*>(handle);
    if (size <= 0 || source->pos >= source->bytes.size()) {
        return 0;
    }
    uint64_t n =
        std::min<uint64_t>(static_cast<uint64_t>(size), source->bytes.size() - source->pos);
    std::memcpy(buffer, source->bytes.data() + source->pos, n);
    source->pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* source = static_cast<TiffSource*>(handle);
    uint64_t base = whence == SEEK_CUR   ? source->pos
                    : whence == SEEK_END ? source->bytes.size()
                                         : 0;
    if (offset > UINT64_MAX - base) {
        return static_cast<toff_t>(-1);
    }
    source->pos = base + offset;
    return source->pos;
}

int CloseProc(thandle_t) {
    return 0;
}

toff_t SizeProc(thandle_t handle) {
    return static_cast<TiffSource*>(handle)->bytes.size();
}

int MapProc(thandle_t, void**, toff_t*) {
    return 0;
}

void UnmapProc(thandle_t, void*, toff_t) {}

int Silent(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

// Largest single allocation libtiff may make for a strip or tile of a hostile file.
constexpr tmsize_t kMaxTiffAlloc = tmsize_t{256} << 20;

} // namespace

bool CHTiffDecoder::Decode(std::string_view bytes, const DecodeRequest& request,
                           DecodedImage& out) {
    TiffSource source{bytes, 0};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        return false;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, Silent, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Silent, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxTiffAlloc);
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpenExt("memory", "rm", &source, ReadProc,
                                                            WriteProc, SeekProc, CloseProc,
                                                            SizeProc, MapProc, UnmapProc, options));
    TIFFOpenOptionsFree(options);
    if (!tif) {
        return false;
    }
    uint32_t width = 0;
    uint32_t height = 0;
    if (TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) != 1 ||
        !CHImageDecoder::SizeAllowed(width, height)) {
        return false;
    }
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    if (orientation < 1 || orientation > 8) {
        orientation = ORIENTATION_TOPLEFT;
    }
    char message[1024] = {};
    TIFFRGBAImage image{};
    if (!TIFFRGBAImageOK(tif.get(), message) ||
        !TIFFRGBAImageBegin(&image, tif.get(), 1, message)) {
        return false;
    }
    // Asking for the file's own orientation leaves the rows as stored.
    image.req_orientation = orientation;
    const bool alpha = image.alpha != 0;
    bool ok = image.width == width && image.height == height &&
              out.bitmap.Create(static_cast<int>(width), static_cast<int>(height), alpha ? 32 : 24);
    if (ok) {
        ok = TIFFRGBAImageGet(&image, out.bitmap.Bits(), width, height) != 0;
    }
    TIFFRGBAImageEnd(&image);
    if (!ok) {
        out.bitmap.Release();
        return false;
    }
    // libtiff packs A B G R from the high byte down; ours is A R G B (premultiplied both).
    for (uint32_t y = 0; y < height; ++y) {
        uint32_t* row = out.bitmap.Row(static_cast<int>(y));
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t p = row[x];
            p = (p & 0xFF00FF00u) | (p & 0xFF) << 16 | (p >> 16 & 0xFF);
            row[x] = alpha ? p : (p | 0xFF000000u);
        }
    }
    out.fullWidth = static_cast<int>(width);
    out.fullHeight = static_cast<int>(height);
    out.orientation = request.wantOrientation ? orientation : 1;
    return true;
}
