// libFuzzer target: Base64Decode/Base64DecodeBytes and UrlDecode on arbitrary bytes.
// Checks: no out-of-bounds access (ASan), bounded output, encode/decode round trip.

#include "media/Base64.h"
#include "media/UrlDecode.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// The percent-decoding rule written the simplest way, to check the word-at-a-time one.
std::string ReferenceUrlDecode(std::string_view s) {
    auto hex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    auto val = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) && hex(s[i + 2])) {
            out += static_cast<char>(val(s[i + 1]) * 16 + val(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);

    std::string bytes = Base64DecodeBytes(input);
    if (bytes.size() > size * 3 / 4 + 1) {
        std::abort();
    }
    std::string text = Base64Decode(input);
    if (text.size() > bytes.size() || bytes.compare(0, text.size(), text) != 0 ||
        text.find('\0') != std::string::npos) {
        std::abort();
    }
    // Whatever decodes must survive an encode/decode round trip unchanged.
    if (Base64DecodeBytes(Base64EncodeBytes(bytes)) != bytes) {
        std::abort();
    }
    std::string encoded = Base64EncodeBytes(input);
    if (encoded.size() != 4 * ((size + 2) / 3) || Base64DecodeBytes(encoded) != input) {
        std::abort();
    }

    std::string decoded = UrlDecode(input);
    if (decoded.size() > size) {
        std::abort();
    }
    if (decoded != ReferenceUrlDecode(input)) {
        std::abort();
    }
    // Without '%' the text is unchanged.
    if (input.find('%') == std::string_view::npos && decoded != input) {
        std::abort();
    }
    return 0;
}
