// libFuzzer target: Base64Decode/Base64DecodeBytes and UrlDecode on arbitrary bytes.
// Checks: no out-of-bounds access (ASan), bounded output, encode/decode round trip.

#include "media/Base64.h"
#include "media/UrlDecode.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

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
    // Without '%' the text is unchanged.
    if (input.find('%') == std::string_view::npos && decoded != input) {
        std::abort();
    }
    return 0;
}
