#include "media/CHJpegEncoder.h"

#include <turbojpeg.h>

#include <memory>

namespace {

struct TjCloser {
    void operator()(void* handle) const { tjDestroy(handle); }
};

struct TjFree {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

} // namespace

bool CHJpegEncoder::Encode(const CHBitmap& bitmap, int quality, std::string& out) {
    out.clear();
    if (bitmap.IsEmpty() || quality < 1 || quality > 100) {
        return false;
    }
    std::unique_ptr<void, TjCloser> handle(tjInitCompress());
    if (!handle) {
        return false;
    }
    unsigned char* raw = nullptr;
    unsigned long size = 0;
    // Premultiplied colour is the colour over black, so the alpha byte can simply be skipped.
    int rc = tjCompress2(handle.get(), reinterpret_cast<const unsigned char*>(bitmap.Bits()),
                         bitmap.Width(), static_cast<int>(bitmap.Stride()), bitmap.Height(),
                         TJPF_BGRX, &raw, &size, TJSAMP_420, quality, TJFLAG_ACCURATEDCT);
    std::unique_ptr<unsigned char, TjFree> buffer(raw);
    if (rc != 0 || raw == nullptr || size == 0) {
        return false;
    }
    out.assign(reinterpret_cast<const char*>(raw), size);
    return true;
}
