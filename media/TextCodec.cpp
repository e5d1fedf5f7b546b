#include "media/TextCodec.h"

#include <cstdint>

namespace {

// Decodes one well-formed UTF-8 sequence at p (Unicode table 3-7). Returns its length, or 0
// when the bytes at p do not start a well-formed sequence; then bad holds the length of the
// maximal ill-formed subpart (at least 1), which is what one U+FFFD replaces.
size_t DecodeUtf8(const uint8_t* p, size_t n, uint32_t& cp, size_t& bad) {
    uint8_t b0 = p[0];
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t need;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0) {
            lo = 0xA0;
        } else if (b0 == 0xED) {
            hi = 0x9F; // no surrogates
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0) {
            lo = 0x90;
        } else if (b0 == 0xF4) {
            hi = 0x8F;
        }
    } else {
        bad = 1;
        return 0;
    }
    for (size_t i = 1; i <= need; ++i) {
        if (i >= n) {
            bad = i;
            return 0;
        }
        uint8_t b = p[i];
        if (b < lo || b > hi) {
            bad = i;
            return 0;
        }
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
    }
    return need + 1;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

// Code pages 0 (ANSI) and 65001 are both UTF-8 on this platform; any other page is treated
// the same, there being no other page in use.
std::u16string ToWide(std::string_view text, int /*codePage*/) {
    std::u16string out;
    if (text.empty()) {
        return out;
    }
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            out += static_cast<char16_t>(p[i++]);
            continue;
        }
        uint32_t cp = 0;
        size_t bad = 0;
        size_t len = DecodeUtf8(p + i, n - i, cp, bad);
        if (len == 0) {
            return {}; // invalid input fails the whole conversion
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string ToNarrow(std::u16string_view text, int /*codePage*/) {
    std::string out;
    if (text.empty()) {
        return out;
    }
    out.reserve(text.size() * 3);
    size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= n || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return {}; // unpaired high surrogate
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return {}; // unpaired low surrogate
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::string MakeValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    size_t n = text.size();
    // Most texts are valid: copy them unchanged.
    size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        uint32_t cp;
        size_t bad;
        size_t len = DecodeUtf8(p + i, n - i, cp, bad);
        if (len == 0) {
            break;
        }
        i += len;
    }
    if (i == n) {
        return std::string(text);
    }
    std::string out(text.substr(0, i));
    while (i < n) {
        uint32_t cp;
        size_t bad = 0;
        size_t len = DecodeUtf8(p + i, n - i, cp, bad);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            i += bad;
        } else {
            out.append(text.data() + i, len);
            i += len;
        }
    }
    return out;
}
