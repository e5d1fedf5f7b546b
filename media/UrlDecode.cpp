#include "media/UrlDecode.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

struct HexTable {
    std::array<int8_t, 256> value{};
    HexTable() {
        value.fill(-1);
        for (int i = 0; i < 10; ++i) {
            value['0' + i] = static_cast<int8_t>(i);
        }
        for (int i = 0; i < 6; ++i) {
            value['a' + i] = static_cast<int8_t>(10 + i);
            value['A' + i] = static_cast<int8_t>(10 + i);
        }
    }
};

const HexTable kHex;

constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;
constexpr uint64_t kPercents = 0x2525252525252525ULL; // '%' in every byte

} // namespace

std::string UrlDecode(std::string_view text) {
    const size_t n = text.size();
    std::string out(n, '\0');
    // The output never gets ahead of the input (an escape shrinks 3 bytes to 1), so writing
    // 8 bytes at o while 8 input bytes remain at p stays inside the buffer.
    char* o = out.data();
    const char* p = text.data();
    const char* const end = p + n;
    for (;;) {
        // Eight bytes at a time up to the next '%'.
        while (end - p >= 8) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            const uint64_t x = v ^ kPercents;
            const uint64_t hit = (x - kOnes) & ~x & kHighs; // lowest flag is the first '%'
            std::memcpy(o, &v, 8);
            if (hit == 0) {
                o += 8;
                p += 8;
                continue;
            }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            const size_t k = static_cast<size_t>(__builtin_clzll(hit)) / 8;
#else
            const size_t k = static_cast<size_t>(__builtin_ctzll(hit)) / 8;
#endif
            o += k;
            p += k;
            break;
        }
        if (end - p < 8) {
            // Tail: byte by byte.
            while (p < end && *p != '%') {
                *o++ = *p++;
            }
        }
        if (p >= end) {
            break;
        }
        // *p == '%'
        int hi, lo;
        if (end - p >= 3 && (hi = kHex.value[static_cast<unsigned char>(p[1])]) >= 0 &&
            (lo = kHex.value[static_cast<unsigned char>(p[2])]) >= 0) {
            *o++ = static_cast<char>((hi << 4) | lo);
            p += 3;
        } else {
            *o++ = '%'; // not followed by two hex digits: copied unchanged
            ++p;
        }
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}
