#include "media/Base64.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint32_t kBad = 0x01000000; // set in a decoded group when any character was not a digit

struct Tables {
    // Two output characters for every 12-bit value, and per-position decode tables that give
    // the sextet already shifted into place (kBad for anything outside the alphabet).
    std::array<uint16_t, 4096> pair{};
    std::array<uint32_t, 256> d0{}, d1{}, d2{}, d3{};
    std::array<uint8_t, 256> value{}; // 0..63, 64 = '=', 255 = not in the alphabet

    Tables() {
        for (int i = 0; i < 4096; ++i) {
            char two[2] = {kAlphabet[i >> 6], kAlphabet[i & 63]};
            std::memcpy(&pair[i], two, 2);
        }
        value.fill(255);
        d0.fill(kBad);
        d1.fill(kBad);
        d2.fill(kBad);
        d3.fill(kBad);
        for (uint32_t i = 0; i < 64; ++i) {
            auto c = static_cast<uint8_t>(kAlphabet[i]);
            value[c] = static_cast<uint8_t>(i);
            d0[c] = i << 18;
            d1[c] = i << 12;
            d2[c] = i << 6;
            d3[c] = i;
        }
        value['='] = 64;
    }
};

const Tables& T() {
    static const Tables tables;
    return tables;
}

std::string_view UpToZero(std::string_view text) {
    size_t zero = text.find('\0');
    return zero == std::string_view::npos ? text : text.substr(0, zero);
}

} // namespace

std::string Base64EncodeBytes(std::string_view bytes) {
    const size_t n = bytes.size();
    if (n == 0) {
        return {};
    }
    const Tables& t = T();
    std::string out(4 * ((n + 2) / 3), '\0');
    const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
    char* o = out.data();
    size_t i = 0;
    for (; i + 3 <= n; i += 3, o += 4) {
        uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        std::memcpy(o, &t.pair[v >> 12], 2);
        std::memcpy(o + 2, &t.pair[v & 0xFFF], 2);
    }
    if (n - i == 1) {
        uint32_t v = uint32_t(in[i]) << 16;
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = '=';
        o[3] = '=';
    } else if (n - i == 2) {
        uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8);
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = kAlphabet[(v >> 6) & 63];
        o[3] = '=';
    }
    return out;
}

std::string Base64DecodeBytes(std::string_view text) {
    const size_t n = text.size();
    if (n == 0) {
        return {};
    }
    const Tables& t = T();
    // Every output byte needs at least 4/3 input characters (a '=' right after one digit
    // gives one byte for two characters), so this bound is never exceeded.
    std::string out(n / 4 * 3 + 3, '\0');
    auto* o = reinterpret_cast<uint8_t*>(out.data());
    const auto* in = reinterpret_cast<const uint8_t*>(text.data());
    size_t w = 0;
    uint32_t acc = 0; // sextets of the group being collected
    int k = 0;        // how many

    // A group ends early at '=' (or at the end of the text): 2 digits give one byte, 3 give
    // two; one digit gives one byte only when '=' follows it ("its second character is '='").
    auto flush = [&](bool padded) {
        if (k == 1 && padded) {
            o[w++] = static_cast<uint8_t>(acc << 2);
        } else if (k == 2) {
            o[w++] = static_cast<uint8_t>(acc >> 4);
        } else if (k == 3) {
            o[w++] = static_cast<uint8_t>(acc >> 10);
            o[w++] = static_cast<uint8_t>(acc >> 2);
        }
        acc = 0;
        k = 0;
    };

    size_t i = 0;
    while (i < n) {
        if (k == 0) {
            // Fast path: whole groups of four alphabet characters.
            while (i + 4 <= n) {
                uint32_t v = t.d0[in[i]] | t.d1[in[i + 1]] | t.d2[in[i + 2]] | t.d3[in[i + 3]];
                if (v & kBad) {
                    break;
                }
                o[w] = static_cast<uint8_t>(v >> 16);
                o[w + 1] = static_cast<uint8_t>(v >> 8);
                o[w + 2] = static_cast<uint8_t>(v);
                w += 3;
                i += 4;
            }
            if (i >= n) {
                break;
            }
        }
        uint8_t v = t.value[in[i++]];
        if (v < 64) {
            acc = (acc << 6) | v;
            if (++k == 4) {
                o[w++] = static_cast<uint8_t>(acc >> 16);
                o[w++] = static_cast<uint8_t>(acc >> 8);
                o[w++] = static_cast<uint8_t>(acc);
                acc = 0;
                k = 0;
            }
        } else if (v == 64) {
            flush(true);
        }
        // anything else (blanks, line breaks, bytes >= 0x80, ...) is skipped
    }
    flush(false);
    out.resize(w);
    return out;
}

std::string Base64Encode(std::string_view text) {
    return Base64EncodeBytes(UpToZero(text));
}

std::string Base64Decode(std::string_view text) {
    std::string out = Base64DecodeBytes(text);
    size_t zero = out.find('\0');
    if (zero != std::string::npos) {
        out.resize(zero);
    }
    return out;
}
