#include "media/CHJpegDcDecoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int kLookBits = 9;  // code look-up for DC symbols and rare AC codes
constexpr int kSkipBits = 14; // AC code plus extra bits in one look-up
constexpr uint16_t kEndOfBlock = 64;
// Several short AC symbols in one look-up: total bits (low 4), summed advance (next 7 bits) and
// whether the last of them ends the block.
constexpr uint16_t kRunEnds = 1u << 11;

struct HuffTable {
    bool defined = false;
    // Canonical decoding for codes longer than kLookBits.
    int32_t maxCode[18] = {};
    int32_t valOffset[18] = {};
    uint8_t values[256] = {};
    // (length << 8) | symbol for codes up to kLookBits long; 0 otherwise.
    std::array<uint16_t, 1 << kLookBits> look{};
    // AC skipping: (advance << 5) | total bits, 0 when the code and its extra bits do not fit.
    std::vector<uint16_t> skip;
    std::vector<uint16_t> multi;

    bool Build(const uint8_t counts[16], const uint8_t* symbols, int total, bool ac) {
        std::memcpy(values, symbols, static_cast<size_t>(total));
        look.fill(0);
        if (ac) {
            skip.assign(1u << kSkipBits, 0);
        }
        int32_t code = 0;
        int k = 0;
        for (int len = 1; len <= 16; ++len) {
            valOffset[len] = k - code;
            for (int i = 0; i < counts[len - 1]; ++i, ++k, ++code) {
                if (code >= (1 << len)) {
                    return false; // more codes than the length allows
                }
                const uint8_t sym = symbols[k];
                if (len <= kLookBits) {
                    int shift = kLookBits - len;
                    for (int fill = 0; fill < (1 << shift); ++fill) {
                        look[static_cast<size_t>((code << shift) | fill)] =
                            static_cast<uint16_t>(len << 8 | sym);
                    }
                }
                if (ac) {
                    const int run = sym >> 4;
                    const int size = sym & 15;
                    const int totalBits = len + size;
                    if (totalBits <= kSkipBits) {
                        uint16_t advance = size != 0   ? static_cast<uint16_t>(run + 1)
                                           : run == 15 ? uint16_t{16}
                                                       : kEndOfBlock;
                        int shift = kSkipBits - len;
                        for (int fill = 0; fill < (1 << shift); ++fill) {
                            skip[static_cast<size_t>((code << shift) | fill)] =
                                static_cast<uint16_t>(advance << 5 | totalBits);
                        }
                    }
                }
            }
            maxCode[len] = counts[len - 1] != 0 ? code - 1 : -1;
            code <<= 1;
        }
        maxCode[17] = INT32_MAX;
        if (ac) {
            BuildMulti();
        }
        defined = true;
        return true;
    }

    // For every kSkipBits pattern, the symbols lying wholly inside it, up to an end of block.
    void BuildMulti() {
        multi.assign(1u << kSkipBits, 0);
        constexpr uint32_t mask = (1u << kSkipBits) - 1;
        for (uint32_t pattern = 0; pattern <= mask; ++pattern) {
            int used = 0;
            int advance = 0;
            bool ends = false;
            while (used < kSkipBits) {
                const uint16_t e = skip[(pattern << used) & mask];
                const int length = e & 31;
                if (e == 0 || used + length > kSkipBits) {
                    break;
                }
                if ((e >> 5) == kEndOfBlock) {
                    used += length;
                    ends = true;
                    break;
                }
                if (advance + (e >> 5) >= 64) {
                    break; // past any block end; also keeps the sum within its 7 bits
                }
                used += length;
                advance += e >> 5;
            }
            if (used > 0) {
                multi[pattern] = static_cast<uint16_t>(used | advance << 4 | (ends ? kRunEnds : 0));
            }
        }
    }
};

// Entropy-coded data with byte stuffing; past a marker or the end it yields zero bits and
// counts them, so running out of data is noticed instead of read past.
struct BitReader {
    const uint8_t* p = nullptr;
    const uint8_t* end = nullptr;
    uint64_t buffer = 0;
    int bits = 0;
    int fakeBits = 0;
    bool atMarker = false;

    void Fill() {
        // Whole bytes at once while the next eight hold no 0xFF (no stuffing, no marker).
        if (!atMarker && end - p >= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            word = __builtin_bswap64(word);
            const uint64_t inverted = ~word;
            const bool hasFF =
                ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0;
            if (!hasFF) {
                const int take = (64 - bits) >> 3;
                if (take > 0) {
                    buffer |= (word >> (64 - 8 * take)) << (64 - bits - 8 * take);
                    bits += 8 * take;
                    p += take;
                }
                return;
            }
        }
        while (bits <= 56) {
            uint64_t byte = 0;
            if (!atMarker && p < end) {
                byte = *p;
                if (byte == 0xFF) {
                    if (p + 1 < end && p[1] == 0x00) {
                        p += 2;
                    } else {
                        atMarker = true;
                        byte = 0;
                        fakeBits += 8;
                    }
                } else {
                    ++p;
                }
            } else {
                fakeBits += 8;
            }
            buffer |= byte << (56 - bits);
            bits += 8;
        }
    }
    uint32_t Peek(int n) const { return static_cast<uint32_t>(buffer >> (64 - n)); }
    void Skip(int n) {
        buffer <<= n;
        bits -= n;
    }
    // True when bits that were not in the data have been used.
    bool Overrun() const { return fakeBits > bits; }
};

int DecodeSymbol(BitReader& r, const HuffTable& t) {
    if (r.bits < 16) {
        r.Fill();
    }
    uint16_t e = t.look[r.Peek(kLookBits)];
    if (e != 0) {
        r.Skip(e >> 8);
        return e & 0xFF;
    }
    int32_t code = static_cast<int32_t>(r.Peek(kLookBits));
    int len = kLookBits;
    uint32_t all = r.Peek(16);
    while (code > t.maxCode[len]) {
        if (++len > 16) {
            return -1; // no such code
        }
        code = static_cast<int32_t>(all >> (16 - len));
    }
    r.Skip(len);
    return t.values[(code + t.valOffset[len]) & 0xFF];
}

struct Component {
    int id = 0;
    int h = 1;
    int v = 1;
    int quant = 0;
    int dcTable = 0;
    int acTable = 0;
    int blocksWide = 0; // block grid of the whole scan
    int blocksHigh = 0;
    std::vector<int16_t> dc;
};

uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint8_t Clamp(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Plane value at output pixel (x, y) for a component sampled (h, v) of (hMax, vMax): centred
// linear interpolation between block values, edges repeated.
float Sample(const std::vector<float>& plane, int w, int hgt, float fx, float fy) {
    fx = std::clamp(fx, 0.0f, float(w - 1));
    fy = std::clamp(fy, 0.0f, float(hgt - 1));
    int x0 = static_cast<int>(fx);
    int y0 = static_cast<int>(fy);
    int x1 = std::min(x0 + 1, w - 1);
    int y1 = std::min(y0 + 1, hgt - 1);
    float tx = fx - x0;
    float ty = fy - y0;
    const float* r0 = plane.data() + size_t(y0) * w;
    const float* r1 = plane.data() + size_t(y1) * w;
    float top = r0[x0] + (r0[x1] - r0[x0]) * tx;
    float bottom = r1[x0] + (r1[x1] - r1[x0]) * tx;
    return top + (bottom - top) * ty;
}

} // namespace

bool CHJpegDcDecoder::Decode(std::string_view jpeg, const std::function<bool(int, int)>& wantEighth,
                             CHBitmap& out, int& width, int& height) {
    const auto* data = reinterpret_cast<const uint8_t*>(jpeg.data());
    const size_t size = jpeg.size();
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) {
        return false;
    }
    uint16_t quant[4][64] = {};
    bool quantDefined[4] = {};
    HuffTable tables[2][4]; // [DC, AC][id]
    std::vector<Component> comps;
    int restartInterval = 0;
    bool frame = false;
    size_t pos = 2;
    size_t scanStart = 0;
    while (scanStart == 0) {
        if (pos + 4 > size || data[pos] != 0xFF) {
            return false;
        }
        const uint8_t marker = data[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        const size_t length = Read16(data + pos + 2);
        if (length < 2 || pos + 2 + length > size) {
            return false;
        }
        const uint8_t* seg = data + pos + 4;
        const size_t segLength = length - 2;
        switch (marker) {
        case 0xC0: // baseline
        case 0xC1: // extended sequential, Huffman
        {
            if (frame || segLength < 6 || seg[0] != 8) {
                return false;
            }
            height = Read16(seg + 1);
            width = Read16(seg + 3);
            const int count = seg[5];
            if ((count != 1 && count != 3) || segLength != 6 + size_t(count) * 3 || width == 0 ||
                height == 0 || !wantEighth(width, height)) {
                return false;
            }
            for (int i = 0; i < count; ++i) {
                Component c;
                c.id = seg[6 + i * 3];
                c.h = seg[7 + i * 3] >> 4;
                c.v = seg[7 + i * 3] & 15;
                c.quant = seg[8 + i * 3];
                if (c.h < 1 || c.h > 2 || c.v < 1 || c.v > 2 || c.quant > 3) {
                    return false;
                }
                comps.push_back(std::move(c));
            }
            // Component ids R, G, B mean the file holds RGB, not YCbCr.
            if (count == 3 && comps[0].id == 'R' && comps[1].id == 'G' && comps[2].id == 'B') {
                return false;
            }
            frame = true;
            break;
        }
        case 0xC4: { // Huffman tables
            size_t at = 0;
            while (at < segLength) {
                if (at + 17 > segLength) {
                    return false;
                }
                const int cls = seg[at] >> 4;
                const int id = seg[at] & 15;
                if (cls > 1 || id > 3) {
                    return false;
                }
                int total = 0;
                for (int i = 0; i < 16; ++i) {
                    total += seg[at + 1 + i];
                }
                if (total > 256 || at + 17 + size_t(total) > segLength ||
                    !tables[cls][id].Build(seg + at + 1, seg + at + 17, total, cls == 1)) {
                    return false;
                }
                at += 17 + size_t(total);
            }
            break;
        }
        case 0xDB: { // quantisation tables
            size_t at = 0;
            while (at < segLength) {
                const int precision = seg[at] >> 4;
                const int id = seg[at] & 15;
                const size_t need = precision == 0 ? 64 : 128;
                if (precision > 1 || id > 3 || at + 1 + need > segLength) {
                    return false;
                }
                // Only entry 0 (the DC step) is used; it comes first in zig-zag order too.
                for (int i = 0; i < 64; ++i) {
                    quant[id][i] = precision == 0 ? seg[at + 1 + size_t(i)]
                                                  : Read16(seg + at + 1 + size_t(i) * 2);
                }
                quantDefined[id] = true;
                at += 1 + need;
            }
            break;
        }
        case 0xDD: // restart interval
            if (segLength != 2) {
                return false;
            }
            restartInterval = Read16(seg);
            break;
        case 0xDA: { // start of scan
            if (!frame || segLength < 1) {
                return false;
            }
            const int count = seg[0];
            if (count != int(comps.size()) || segLength != 4 + size_t(count) * 2) {
                return false;
            }
            for (int i = 0; i < count; ++i) {
                Component& c = comps[size_t(i)];
                if (seg[1 + i * 2] != c.id) {
                    return false;
                }
                c.dcTable = seg[2 + i * 2] >> 4;
                c.acTable = seg[2 + i * 2] & 15;
                if (c.dcTable > 3 || c.acTable > 3 || !tables[0][c.dcTable].defined ||
                    !tables[1][c.acTable].defined || !quantDefined[c.quant]) {
                    return false;
                }
            }
            const uint8_t* tail = seg + 1 + count * 2;
            if (tail[0] != 0 || tail[1] != 63 || tail[2] != 0) {
                return false;
            }
            scanStart = pos + 2 + length;
            break;
        }
        case 0xEE: // Adobe: its colour transform flag is left to libjpeg
            return false;
        default:
            if (marker >= 0xC2 && marker <= 0xCF) {
                return false; // progressive, lossless, arithmetic, hierarchical
            }
            if (marker == 0xD9 || (marker >= 0xD0 && marker <= 0xD8) || marker == 0x01) {
                return false;
            }
            break; // APPn, COM and the like
        }
        pos += 2 + length;
    }

    int hMax = 1;
    int vMax = 1;
    for (const Component& c : comps) {
        hMax = std::max(hMax, c.h);
        vMax = std::max(vMax, c.v);
    }
    const bool interleaved = comps.size() > 1;
    const int mcusWide = interleaved ? (width + 8 * hMax - 1) / (8 * hMax) : (width + 7) / 8;
    const int mcusHigh = interleaved ? (height + 8 * vMax - 1) / (8 * vMax) : (height + 7) / 8;
    for (Component& c : comps) {
        c.blocksWide = interleaved ? mcusWide * c.h : mcusWide;
        c.blocksHigh = interleaved ? mcusHigh * c.v : mcusHigh;
        c.dc.assign(size_t(c.blocksWide) * size_t(c.blocksHigh), 0);
    }

    BitReader reader;
    reader.p = data + scanStart;
    reader.end = data + size;
    int predictor[3] = {};
    int nextRestart = 0;
    const int64_t mcuCount = int64_t{mcusWide} * mcusHigh;
    for (int64_t mcu = 0; mcu < mcuCount; ++mcu) {
        if (restartInterval != 0 && mcu != 0 && mcu % restartInterval == 0) {
            // Only the padding of the last byte may be left; the marker comes next.
            if (reader.Overrun() || reader.bits - reader.fakeBits >= 8 ||
                reader.p + 1 >= reader.end || reader.p[0] != 0xFF ||
                reader.p[1] != 0xD0 + nextRestart) {
                return false;
            }
            reader.p += 2;
            reader.atMarker = false;
            reader.buffer = 0;
            reader.bits = 0;
            reader.fakeBits = 0;
            nextRestart = (nextRestart + 1) & 7;
            predictor[0] = predictor[1] = predictor[2] = 0;
        }
        const int mx = static_cast<int>(mcu % mcusWide);
        const int my = static_cast<int>(mcu / mcusWide);
        for (size_t ci = 0; ci < comps.size(); ++ci) {
            Component& c = comps[ci];
            const HuffTable& dcTable = tables[0][c.dcTable];
            const HuffTable& acTable = tables[1][c.acTable];
            const int bh = interleaved ? c.h : 1;
            const int bv = interleaved ? c.v : 1;
            for (int by = 0; by < bv; ++by) {
                for (int bx = 0; bx < bh; ++bx) {
                    int s = DecodeSymbol(reader, dcTable);
                    if (s < 0 || s > 15) {
                        return false;
                    }
                    int diff = 0;
                    if (s != 0) {
                        if (reader.bits < 16) {
                            reader.Fill();
                        }
                        int bits = static_cast<int>(reader.Peek(s));
                        reader.Skip(s);
                        diff = bits < (1 << (s - 1)) ? bits - (1 << s) + 1 : bits;
                    }
                    // Wrapping arithmetic: a hostile stream may push the predictor anywhere.
                    predictor[ci] = static_cast<int>(static_cast<uint32_t>(predictor[ci]) +
                                                     static_cast<uint32_t>(diff));
                    const size_t x = size_t(mx) * bh + size_t(bx);
                    const size_t y = size_t(my) * bv + size_t(by);
                    c.dc[y * size_t(c.blocksWide) + x] = static_cast<int16_t>(predictor[ci]);
                    // Step over the 63 AC coefficients.
                    for (int k = 1; k < 64;) {
                        if (reader.bits < 32) {
                            reader.Fill();
                        }
                        const uint32_t next = reader.Peek(kSkipBits);
                        // Many symbols at once, unless they might run past this block.
                        const uint16_t m = acTable.multi[next];
                        if (m != 0 && k + ((m >> 4) & 127) < 64) {
                            reader.Skip(m & 15);
                            if ((m & kRunEnds) != 0) {
                                break;
                            }
                            k += (m >> 4) & 127;
                            continue;
                        }
                        const uint16_t e = acTable.skip[next];
                        if (e != 0) {
                            reader.Skip(e & 31);
                            const int advance = e >> 5;
                            if (advance == kEndOfBlock) {
                                break;
                            }
                            k += advance;
                            continue;
                        }
                        const int sym = DecodeSymbol(reader, acTable);
                        if (sym < 0) {
                            return false;
                        }
                        const int run = sym >> 4;
                        const int sz = sym & 15;
                        if (sz != 0) {
                            if (reader.bits < 16) {
                                reader.Fill();
                            }
                            reader.Skip(sz);
                            k += run + 1;
                        } else if (run == 15) {
                            k += 16;
                        } else {
                            break;
                        }
                    }
                }
            }
        }
        if (reader.Overrun()) {
            return false; // the data ended inside this MCU
        }
    }

    // Block values to samples, as libjpeg's 1 x 1 inverse DCT does: (DC * Q + 4) / 8 + 128.
    const int outW = (width + 7) / 8;
    const int outH = (height + 7) / 8;
    std::vector<std::vector<float>> planes(comps.size());
    for (size_t ci = 0; ci < comps.size(); ++ci) {
        const Component& c = comps[ci];
        const int q = quant[c.quant][0];
        planes[ci].resize(c.dc.size());
        for (size_t i = 0; i < c.dc.size(); ++i) {
            planes[ci][i] = Clamp(((int(c.dc[i]) * q + 4) >> 3) + 128);
        }
    }
    if (!out.Create(outW, outH, 24)) {
        return false;
    }
    for (int y = 0; y < outH; ++y) {
        uint32_t* row = out.Row(y);
        for (int x = 0; x < outW; ++x) {
            float value[3] = {};
            for (size_t ci = 0; ci < comps.size(); ++ci) {
                const Component& c = comps[ci];
                if (!interleaved || (c.h == hMax && c.v == vMax)) {
                    value[ci] = planes[ci][size_t(y) * size_t(c.blocksWide) + size_t(x)];
                } else {
                    const float sx = (x + 0.5f) * c.h / hMax - 0.5f;
                    const float sy = (y + 0.5f) * c.v / vMax - 0.5f;
                    value[ci] = Sample(planes[ci], c.blocksWide, c.blocksHigh, sx, sy);
                }
            }
            if (comps.size() == 1) {
                const uint32_t g = Clamp(static_cast<int>(value[0] + 0.5f));
                row[x] = 0xFF000000u | g << 16 | g << 8 | g;
                continue;
            }
            const float Y = value[0];
            const float cb = value[1] - 128.0f;
            const float cr = value[2] - 128.0f;
            const uint32_t r = Clamp(static_cast<int>(Y + 1.402f * cr + 0.5f));
            const uint32_t g = Clamp(static_cast<int>(Y - 0.344136f * cb - 0.714136f * cr + 0.5f));
            const uint32_t b = Clamp(static_cast<int>(Y + 1.772f * cb + 0.5f));
            row[x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
    return true;
}
