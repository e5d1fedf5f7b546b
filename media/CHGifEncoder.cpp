#include "media/CHGifEncoder.h"

#include <gif_lib.h>

#include <memory>
#include <vector>

namespace {

int WriteFn(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<std::string*>(gif->UserData)
        ->append(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    return length;
}

struct MapFree {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

} // namespace

bool CHGifEncoder::Encode(const CHBitmap& bitmap, std::string& out) {
    out.clear();
    if (bitmap.IsEmpty() || bitmap.Width() > 65535 || bitmap.Height() > 65535) {
        return false;
    }
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    const size_t n = size_t(w) * size_t(h);
    const bool alpha = bitmap.BitsPerPixel() == 32;
    std::vector<GifByteType> red(n), green(n), blue(n), indices(n);
    bool anyClear = false;
    for (int y = 0; y < h; ++y) {
        const uint32_t* row = bitmap.Row(y);
        for (int x = 0; x < w; ++x) {
            size_t i = size_t(y) * w + x;
            uint32_t p = row[x];
            red[i] = static_cast<GifByteType>(p >> 16);
            green[i] = static_cast<GifByteType>(p >> 8);
            blue[i] = static_cast<GifByteType>(p);
            anyClear |= alpha && (p >> 24) < 128;
        }
    }
    // One palette entry is kept back for the transparent colour when it is needed.
    int colours = anyClear ? 255 : 256;
    std::unique_ptr<ColorMapObject, MapFree> map(GifMakeMapObject(256, nullptr));
    if (!map ||
        GifQuantizeBuffer(static_cast<unsigned>(w), static_cast<unsigned>(h), &colours, red.data(),
                          green.data(), blue.data(), indices.data(), map->Colors) == GIF_ERROR) {
        return false;
    }
    const int transparent = anyClear ? 255 : -1;
    if (anyClear) {
        for (int y = 0; y < h; ++y) {
            const uint32_t* row = bitmap.Row(y);
            for (int x = 0; x < w; ++x) {
                if ((row[x] >> 24) < 128) {
                    indices[size_t(y) * w + x] = static_cast<GifByteType>(transparent);
                }
            }
        }
        map->Colors[transparent] = GifColorType{0, 0, 0};
    }
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteFn, &error);
    if (gif == nullptr) {
        return false;
    }
    bool ok = true;
    EGifSetGifVersion(gif, true);
    ok = EGifPutScreenDesc(gif, w, h, 8, 0, map.get()) != GIF_ERROR;
    if (ok && anyClear) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        gcb.TransparentColor = transparent;
        GifByteType ext[4];
        size_t len = EGifGCBToExtension(&gcb, ext);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(len), ext) != GIF_ERROR;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) != GIF_ERROR;
    for (int y = 0; ok && y < h; ++y) {
        ok = EGifPutLine(gif, indices.data() + size_t(y) * w, w) != GIF_ERROR;
    }
    if (EGifCloseFile(gif, &error) == GIF_ERROR) {
        ok = false;
    }
    if (!ok) {
        out.clear();
    }
    return ok;
}
