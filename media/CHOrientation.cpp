#include "media/CHOrientation.h"

#include <cstdint>
#include <cstring>

namespace {

uint16_t Read16(const unsigned char* p, bool bigEndian) {
    return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1])
                     : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

uint32_t Read32(const unsigned char* p, bool bigEndian) {
    return bigEndian ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
                     : (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
}

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;

} // namespace

int CHOrientation::FromTiff(std::string_view tiff) {
    const auto* p = reinterpret_cast<const unsigned char*>(tiff.data());
    const size_t n = tiff.size();
    if (n < 8) {
        return 1;
    }
    bool big;
    if (p[0] == 'I' && p[1] == 'I') {
        big = false;
    } else if (p[0] == 'M' && p[1] == 'M') {
        big = true;
    } else {
        return 1;
    }
    if (Read16(p + 2, big) != 42) {
        return 1;
    }
    uint64_t ifd = Read32(p + 4, big);
    if (ifd + 2 > n) {
        return 1;
    }
    uint32_t entries = Read16(p + ifd, big);
    for (uint32_t i = 0; i < entries; ++i) {
        uint64_t e = ifd + 2 + uint64_t{i} * 12;
        if (e + 12 > n) {
            return 1;
        }
        if (Read16(p + e, big) != kOrientationTag) {
            continue;
        }
        if (Read16(p + e + 2, big) != kTypeShort || Read32(p + e + 4, big) < 1) {
            return 1;
        }
        int value = Read16(p + e + 8, big);
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

int CHOrientation::FromJpeg(std::string_view jpeg) {
    const auto* p = reinterpret_cast<const unsigned char*>(jpeg.data());
    const size_t n = jpeg.size();
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8) {
        return 1;
    }
    size_t pos = 2;
    while (pos + 4 <= n) {
        if (p[pos] != 0xFF) {
            return 1;
        }
        unsigned char marker = p[pos + 1];
        if (marker == 0xFF) {
            ++pos; // fill byte
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) {
            return 1; // image data starts: the EXIF block comes before it
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            pos += 2;
            continue;
        }
        size_t length = Read16(p + pos + 2, true);
        if (length < 2 || pos + 2 + length > n) {
            return 1;
        }
        const char* data = jpeg.data() + pos + 4;
        size_t dataLength = length - 2;
        if (marker == 0xE1 && dataLength >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0) {
            return FromTiff(std::string_view(data + 6, dataLength - 6));
        }
        pos += 2 + length;
    }
    return 1;
}

bool CHOrientation::Apply(const CHBitmap& src, int orientation, CHBitmap& dst) {
    if (src.IsEmpty()) {
        return false;
    }
    const int W = src.Width();
    const int H = src.Height();
    const bool swap = SwapsAxes(orientation);
    if (!dst.Create(swap ? H : W, swap ? W : H, src.BitsPerPixel())) {
        return false;
    }
    const int dw = dst.Width();
    const int dh = dst.Height();
    for (int y = 0; y < dh; ++y) {
        uint32_t* out = dst.Row(y);
        switch (orientation) {
        case 2: {
            const uint32_t* in = src.Row(y);
            for (int x = 0; x < dw; ++x) {
                out[x] = in[W - 1 - x];
            }
            break;
        }
        case 3: {
            const uint32_t* in = src.Row(H - 1 - y);
            for (int x = 0; x < dw; ++x) {
                out[x] = in[W - 1 - x];
            }
            break;
        }
        case 4:
            std::memcpy(out, src.Row(H - 1 - y), dst.Stride());
            break;
        case 5:
            for (int x = 0; x < dw; ++x) {
                out[x] = src.Row(x)[y];
            }
            break;
        case 6:
            for (int x = 0; x < dw; ++x) {
                out[x] = src.Row(H - 1 - x)[y];
            }
            break;
        case 7:
            for (int x = 0; x < dw; ++x) {
                out[x] = src.Row(H - 1 - x)[W - 1 - y];
            }
            break;
        case 8:
            for (int x = 0; x < dw; ++x) {
                out[x] = src.Row(x)[W - 1 - y];
            }
            break;
        default:
            std::memcpy(out, src.Row(y), dst.Stride());
            break;
        }
    }
    return true;
}
