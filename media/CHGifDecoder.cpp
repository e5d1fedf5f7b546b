#include "media/CHGifDecoder.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct GifSource {
    std::string_view bytes;
    size_t pos = 0;
};

int ReadFn(GifFileType* gif, GifByteType* buffer, int length) {
    auto* source = static_cast<GifSource*>(gif->UserData);
    if (length <= 0) {
        return 0;
    }
    size_t n = std::min(static_cast<size_t>(length), source->bytes.size() - source->pos);
    std::memcpy(buffer, source->bytes.data() + source->pos, n);
    source->pos += n;
    return static_cast<int>(n);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

constexpr int kInterlaceStart[] = {0, 4, 2, 1};
constexpr int kInterlaceStep[] = {8, 8, 4, 2};

} // namespace

bool CHGifDecoder::Decode(std::string_view bytes, DecodedImage& out) {
    GifSource source{bytes, 0};
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, ReadFn, &error));
    if (!gif) {
        return false;
    }
    int transparent = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) {
            return false;
        }
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
                return false;
            }
            break;
        }
        if (type != EXTENSION_RECORD_TYPE) {
            return false; // end of file (or garbage) before any image
        }
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) {
            return false;
        }
        // Graphic control block: flags, delay (2 bytes), transparent colour index.
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
            transparent = (block[1] & 0x01) != 0 ? block[4] : -1;
        }
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
                return false;
            }
        }
    }
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (colours == nullptr || !CHImageDecoder::SizeAllowed(frame.Width, frame.Height)) {
        return false;
    }
    int canvasW = gif->SWidth;
    int canvasH = gif->SHeight;
    if (canvasW <= 0 || canvasH <= 0) {
        canvasW = frame.Left + frame.Width;
        canvasH = frame.Top + frame.Height;
    }
    if (!CHImageDecoder::SizeAllowed(canvasW, canvasH)) {
        return false;
    }
    const bool covers = frame.Left <= 0 && frame.Top <= 0 &&
                        int64_t{frame.Left} + frame.Width >= canvasW &&
                        int64_t{frame.Top} + frame.Height >= canvasH;
    const bool alpha = transparent >= 0 || !covers;
    if (!out.bitmap.Create(canvasW, canvasH, alpha ? 32 : 24)) {
        return false;
    }
    uint32_t palette[256];
    for (int i = 0; i < 256; ++i) {
        if (i < colours->ColorCount && i != transparent) {
            const GifColorType& c = colours->Colors[i];
            palette[i] = 0xFF000000u | uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue;
        } else {
            palette[i] = i == transparent ? 0u : 0xFF000000u;
        }
    }
    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    auto putLine = [&](int row) {
        int y = frame.Top + row;
        if (y < 0 || y >= canvasH) {
            return;
        }
        uint32_t* target = out.bitmap.Row(y);
        for (int x = 0; x < frame.Width; ++x) {
            int cx = frame.Left + x;
            if (cx >= 0 && cx < canvasW) {
                target[cx] = palette[line[static_cast<size_t>(x)]];
            }
        }
    };
    if (frame.Interlace) {
        for (int pass = 0; pass < 4; ++pass) {
            for (int row = kInterlaceStart[pass]; row < frame.Height; row += kInterlaceStep[pass]) {
                if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
                    out.bitmap.Release();
                    return false;
                }
                putLine(row);
            }
        }
    } else {
        for (int row = 0; row < frame.Height; ++row) {
            if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
                out.bitmap.Release();
                return false;
            }
            putLine(row);
        }
    }
    out.fullWidth = canvasW;
    out.fullHeight = canvasH;
    return true;
}
