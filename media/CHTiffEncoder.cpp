#include "media/CHTiffEncoder.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct MemoryFile {
    std::string* bytes = nullptr;
    uint64_t pos = 0;
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (size <= 0 || file->pos >= file->bytes->size()) {
        return 0;
    }
    uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(size), file->bytes->size() - file->pos);
    std::memcpy(buffer, file->bytes->data() + file->pos, n);
    file->pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (size <= 0) {
        return 0;
    }
    uint64_t end = file->pos + static_cast<uint64_t>(size);
    if (end > file->bytes->size()) {
        file->bytes->resize(end);
    }
    std::memcpy(file->bytes->data() + file->pos, buffer, static_cast<size_t>(size));
    file->pos = end;
    return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    uint64_t base = whence == SEEK_CUR ? file->pos : whence == SEEK_END ? file->bytes->size() : 0;
    file->pos = base + offset;
    return file->pos;
}

int CloseProc(thandle_t) {
    return 0;
}

toff_t SizeProc(thandle_t handle) {
    return static_cast<MemoryFile*>(handle)->bytes->size();
}

int MapProc(thandle_t, void**, toff_t*) {
    return 0;
}

void UnmapProc(thandle_t, void*, toff_t) {}

int Silent(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

} // namespace

bool CHTiffEncoder::Encode(const CHBitmap& bitmap, std::string& out) {
    out.clear();
    if (bitmap.IsEmpty()) {
        return false;
    }
    MemoryFile file{&out, 0};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        return false;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, Silent, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Silent, nullptr);
    TIFF* tif = TIFFClientOpenExt("memory", "wm", &file, ReadProc, WriteProc, SeekProc, CloseProc,
                                  SizeProc, MapProc, UnmapProc, options);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr) {
        out.clear();
        return false;
    }
    const bool alpha = bitmap.BitsPerPixel() == 32;
    const int samples = alpha ? 4 : 3;
    const uint32_t w = static_cast<uint32_t>(bitmap.Width());
    const uint32_t h = static_cast<uint32_t>(bitmap.Height());
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
              TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    if (ok && alpha) {
        uint16_t extra[] = {EXTRASAMPLE_ASSOCALPHA};
        ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    std::vector<uint8_t> row(size_t(w) * samples);
    for (uint32_t y = 0; ok && y < h; ++y) {
        const uint32_t* in = bitmap.Row(static_cast<int>(y));
        uint8_t* o = row.data();
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t p = in[x];
            *o++ = static_cast<uint8_t>(p >> 16);
            *o++ = static_cast<uint8_t>(p >> 8);
            *o++ = static_cast<uint8_t>(p);
            if (alpha) {
                *o++ = static_cast<uint8_t>(p >> 24);
            }
        }
        ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(tif);
    TIFFClose(tif);
    if (!ok) {
        out.clear();
    }
    return ok;
}
