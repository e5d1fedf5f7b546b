#include "media/CHBmpEncoder.h"

#include "media/CHPixels.h"

namespace {

void Put16(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

} // namespace

bool CHBmpEncoder::Encode(const CHBitmap& bitmap, std::string& out) {
    out.clear();
    if (bitmap.IsEmpty()) {
        return false;
    }
    const bool alpha = bitmap.BitsPerPixel() == 32;
    const int bpp = alpha ? 32 : 24;
    const uint32_t headerSize = alpha ? 124 : 40;
    const uint64_t stride = (uint64_t(bitmap.Width()) * bpp + 31) / 32 * 4;
    const uint64_t imageSize = stride * uint64_t(bitmap.Height());
    const uint64_t fileSize = 14 + headerSize + imageSize;
    if (fileSize > UINT32_MAX) {
        return false;
    }
    out.reserve(fileSize);
    out += "BM";
    Put32(out, static_cast<uint32_t>(fileSize));
    Put32(out, 0);
    Put32(out, 14 + headerSize);
    Put32(out, headerSize);
    Put32(out, static_cast<uint32_t>(bitmap.Width()));
    Put32(out, static_cast<uint32_t>(bitmap.Height()));
    Put16(out, 1);
    Put16(out, static_cast<uint32_t>(bpp));
    Put32(out, alpha ? 3 : 0); // BI_BITFIELDS : BI_RGB
    Put32(out, static_cast<uint32_t>(imageSize));
    Put32(out, 2835); // 72 dpi
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    if (alpha) {
        Put32(out, 0x00FF0000); // red, green, blue and alpha masks
        Put32(out, 0x0000FF00);
        Put32(out, 0x000000FF);
        Put32(out, 0xFF000000);
        Put32(out, 0x73524742);            // 'sRGB'
        out.append(headerSize - 60, '\0'); // end points, gamma, intent, profile: none
    }
    for (int y = bitmap.Height() - 1; y >= 0; --y) {
        const uint32_t* row = bitmap.Row(y);
        size_t start = out.size();
        for (int x = 0; x < bitmap.Width(); ++x) {
            uint32_t p = alpha ? CHPixels::Unpremultiply(row[x]) : row[x];
            out.push_back(static_cast<char>(p & 0xFF));
            out.push_back(static_cast<char>((p >> 8) & 0xFF));
            out.push_back(static_cast<char>((p >> 16) & 0xFF));
            if (alpha) {
                out.push_back(static_cast<char>(p >> 24));
            }
        }
        out.append(static_cast<size_t>(stride - (out.size() - start)), '\0');
    }
    return true;
}
