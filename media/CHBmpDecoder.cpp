#include "media/CHBmpDecoder.h"

#include "media/CHPixels.h"

#include <bit>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kRgb = 0;
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitFields = 3;
constexpr uint32_t kAlphaBitFields = 6;

class Bytes {
public:
    explicit Bytes(std::string_view b) : m_b(b) {}
    size_t Size() const { return m_b.size(); }
    bool Has(uint64_t offset, uint64_t length) const {
        return offset <= m_b.size() && length <= m_b.size() - offset;
    }
    uint8_t U8(uint64_t o) const { return static_cast<uint8_t>(m_b[o]); }
    uint16_t U16(uint64_t o) const { return static_cast<uint16_t>(U8(o) | U8(o + 1) << 8); }
    uint32_t U32(uint64_t o) const { return U16(o) | uint32_t{U16(o + 2)} << 16; }
    const uint8_t* At(uint64_t o) const { return reinterpret_cast<const uint8_t*>(m_b.data() + o); }

private:
    std::string_view m_b;
};

// One colour channel described by a bit mask, scaled to 0..255.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint64_t max = 0;
    explicit Channel(uint32_t m = 0) : mask(m) {
        if (m != 0) {
            shift = std::countr_zero(m);
            max = (uint64_t{1} << std::bit_width(m >> shift)) - 1;
        }
    }
    uint32_t Get(uint32_t value, uint32_t absent) const {
        if (mask == 0) {
            return absent;
        }
        uint64_t v = (value & mask) >> shift;
        return static_cast<uint32_t>((v * 255 + max / 2) / max);
    }
};

struct Info {
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bpp = 0;
    uint32_t compression = kRgb;
    uint32_t masks[4] = {};
    bool haveMasks = false;
    std::vector<uint32_t> palette;
    uint64_t dataOffset = 0;
};

bool ReadInfo(const Bytes& b, Info& info) {
    if (!b.Has(0, 18) || b.U8(0) != 'B' || b.U8(1) != 'M') {
        return false;
    }
    info.dataOffset = b.U32(10);
    const uint32_t headerSize = b.U32(14);
    uint32_t colours = 0;
    size_t entrySize = 4;
    if (headerSize == 12) {
        if (!b.Has(14, 12)) {
            return false;
        }
        info.width = b.U16(18);
        info.height = b.U16(20);
        info.bpp = b.U16(24);
        entrySize = 3;
    } else if (headerSize >= 40) {
        if (!b.Has(14, headerSize)) {
            return false;
        }
        info.width = static_cast<int32_t>(b.U32(18));
        int32_t h = static_cast<int32_t>(b.U32(22));
        if (h == INT32_MIN) {
            return false;
        }
        info.topDown = h < 0;
        info.height = h < 0 ? -h : h;
        info.bpp = b.U16(28);
        info.compression = b.U32(30);
        colours = b.U32(46);
        if (info.compression == kBitFields || info.compression == kAlphaBitFields) {
            uint64_t at = 54;
            int count = info.compression == kAlphaBitFields ? 4 : 3;
            if (headerSize >= 56) {
                count = 4;
            } else if (headerSize == 40) {
                at = 14 + 40; // the masks follow the header
            }
            if (!b.Has(at, uint64_t(count) * 4)) {
                return false;
            }
            for (int i = 0; i < count; ++i) {
                info.masks[i] = b.U32(at + uint64_t(i) * 4);
            }
            info.haveMasks = true;
        }
    } else {
        return false;
    }
    if (!CHImageDecoder::SizeAllowed(info.width, info.height)) {
        return false;
    }
    switch (info.bpp) {
    case 1:
    case 4:
    case 8:
        if (info.compression != kRgb && !(info.compression == kRle8 && info.bpp == 8) &&
            !(info.compression == kRle4 && info.bpp == 4)) {
            return false;
        }
        break;
    case 16:
    case 32:
        if (info.compression != kRgb && !info.haveMasks) {
            return false;
        }
        break;
    case 24:
        if (info.compression != kRgb) {
            return false;
        }
        break;
    default:
        return false;
    }
    if (info.bpp <= 8) {
        uint32_t count = 1u << info.bpp;
        if (colours != 0 && colours < count) {
            count = colours;
        }
        uint64_t at = 14 + uint64_t{headerSize};
        if (headerSize == 40 && info.haveMasks) {
            at += 12;
        }
        if (!b.Has(at, uint64_t{count} * entrySize)) {
            return false;
        }
        info.palette.resize(1u << info.bpp, 0xFF000000u);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = b.At(at + uint64_t{i} * entrySize);
            info.palette[i] = 0xFF000000u | uint32_t{e[2]} << 16 | uint32_t{e[1]} << 8 | e[0];
        }
    }
    return info.dataOffset < b.Size();
}

bool DecodeRle(const Bytes& b, const Info& info, CHBitmap& bitmap) {
    uint64_t pos = info.dataOffset;
    int x = 0;
    int line = 0; // counted in file order
    auto put = [&](uint32_t index) {
        if (x < info.width && line < info.height) {
            int y = info.topDown ? line : info.height - 1 - line;
            bitmap.Row(y)[x] = info.palette[index & (info.palette.size() - 1)];
        }
        ++x;
    };
    const bool four = info.compression == kRle4;
    while (b.Has(pos, 2)) {
        uint8_t count = b.U8(pos);
        uint8_t value = b.U8(pos + 1);
        pos += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) {
                put(four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
            }
            continue;
        }
        if (value == 0) {
            x = 0;
            ++line;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (!b.Has(pos, 2)) {
                return false;
            }
            x += b.U8(pos);
            line += b.U8(pos + 1);
            pos += 2;
        } else {
            uint64_t length = four ? (value + 1u) / 2 : value;
            if (!b.Has(pos, length)) {
                return false;
            }
            for (int i = 0; i < value; ++i) {
                uint8_t byte = b.U8(pos + (four ? i / 2 : i));
                put(four ? ((i & 1) ? byte & 0x0F : byte >> 4) : byte);
            }
            pos += (length + 1) & ~uint64_t{1}; // runs are padded to 16 bits
        }
        if (line >= info.height) {
            return true;
        }
    }
    return false; // the data ended before the end-of-bitmap mark
}

bool DecodeRows(const Bytes& b, const Info& info, CHBitmap& bitmap, bool& anyAlpha) {
    const uint64_t rowBits = uint64_t(info.width) * uint64_t(info.bpp);
    const uint64_t stride = (rowBits + 31) / 32 * 4;
    const uint64_t lastRow = (rowBits + 7) / 8;
    // The last row may lack its padding.
    if (!b.Has(info.dataOffset, stride * uint64_t(info.height - 1) + lastRow)) {
        return false;
    }
    uint32_t defaultMasks16[3] = {0x7C00, 0x03E0, 0x001F};
    uint32_t defaultMasks32[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    const uint32_t* m = info.haveMasks   ? info.masks
                        : info.bpp == 16 ? defaultMasks16
                                         : defaultMasks32;
    Channel red(m[0]);
    Channel green(m[1]);
    Channel blue(m[2]);
    Channel alpha(info.haveMasks ? info.masks[3] : 0);
    for (int line = 0; line < info.height; ++line) {
        const uint8_t* src = b.At(info.dataOffset + stride * uint64_t(line));
        uint32_t* out = bitmap.Row(info.topDown ? line : info.height - 1 - line);
        for (int x = 0; x < info.width; ++x) {
            switch (info.bpp) {
            case 1:
                out[x] = info.palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
                break;
            case 4:
                out[x] = info.palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F];
                break;
            case 8:
                out[x] = info.palette[src[x]];
                break;
            case 24: {
                const uint8_t* p = src + size_t(x) * 3;
                out[x] = 0xFF000000u | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
                break;
            }
            default: {
                uint32_t v = 0;
                if (info.bpp == 16) {
                    v = uint32_t{src[size_t(x) * 2]} | uint32_t{src[size_t(x) * 2 + 1]} << 8;
                } else {
                    std::memcpy(&v, src + size_t(x) * 4, 4);
                }
                uint32_t a = alpha.Get(v, 255);
                anyAlpha |= a != 0;
                out[x] = a << 24 | red.Get(v, 0) << 16 | green.Get(v, 0) << 8 | blue.Get(v, 0);
                break;
            }
            }
        }
    }
    return true;
}

} // namespace

bool CHBmpDecoder::Decode(std::string_view bytes, DecodedImage& out) {
    Bytes b(bytes);
    Info info;
    if (!ReadInfo(b, info)) {
        return false;
    }
    const bool alpha = (info.bpp == 16 || info.bpp == 32) && info.haveMasks && info.masks[3] != 0;
    if (!out.bitmap.Create(info.width, info.height, alpha ? 32 : 24)) {
        return false;
    }
    bool ok;
    bool anyAlpha = false;
    if (info.compression == kRle8 || info.compression == kRle4) {
        ok = DecodeRle(b, info, out.bitmap);
    } else {
        ok = DecodeRows(b, info, out.bitmap, anyAlpha);
    }
    if (!ok) {
        out.bitmap.Release();
        return false;
    }
    if (alpha) {
        if (anyAlpha) {
            CHPixels::Premultiply(out.bitmap);
        } else {
            // An alpha mask with every alpha zero is a writer's habit, not a clear image.
            CHBitmap opaque;
            if (!opaque.Create(info.width, info.height, 24)) {
                return false;
            }
            for (int y = 0; y < info.height; ++y) {
                uint32_t* dst = opaque.Row(y);
                const uint32_t* src = out.bitmap.Row(y);
                for (int x = 0; x < info.width; ++x) {
                    dst[x] = src[x] | 0xFF000000u;
                }
            }
            out.bitmap = std::move(opaque);
        }
    }
    out.fullWidth = info.width;
    out.fullHeight = info.height;
    return true;
}
