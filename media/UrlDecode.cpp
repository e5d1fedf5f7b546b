#include "media/UrlDecode.h"

#include <cstring>

namespace {

inline int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<unsigned char>(c | 0x20);
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

} // namespace

std::string UrlDecode(std::string_view text) {
    std::string out;
    out.resize(text.size());
    char* o = out.data();
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        const char* percent = static_cast<const char*>(std::memchr(p, '%', static_cast<size_t>(end - p)));
        if (percent == nullptr) {
            std::memcpy(o, p, static_cast<size_t>(end - p));
            o += end - p;
            break;
        }
        std::memcpy(o, p, static_cast<size_t>(percent - p));
        o += percent - p;
        p = percent;
        int hi, lo;
        if (end - p >= 3 && (hi = HexValue(static_cast<unsigned char>(p[1]))) >= 0 &&
            (lo = HexValue(static_cast<unsigned char>(p[2]))) >= 0) {
            *o++ = static_cast<char>((hi << 4) | lo);
            p += 3;
        } else {
            *o++ = '%';
            ++p;
        }
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}
