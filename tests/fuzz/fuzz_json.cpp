// libFuzzer target: JsonParse on arbitrary bytes, then both writers and a re-parse.
// Checks: never throws or crashes, and writing is a fixed point after one normalisation
// ("%g" may shorten reals and "-0" reads back as the integer 0, so the first round may differ).

#include "media/JsonText.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    Json::Value value;
    std::string error;
    if (!JsonParse(input, value, &error)) {
        if (!value.isNull() || error.empty()) {
            std::abort();
        }
        return 0;
    }
    (void)JsonAsText(value);
    (void)JsonAsInt64(value);
    (void)JsonMember(value, "status");

    const std::string styled1 = JsonStyled(value);
    const std::string compact1 = JsonCompact(value);
    if (styled1.empty() || styled1.back() != '\n' || compact1.empty() || compact1.back() != '\n') {
        std::abort();
    }
    Json::Value again;
    if (!JsonParse(styled1, again)) {
        std::abort(); // whatever we write, we read
    }
    Json::Value fromCompact;
    if (!JsonParse(compact1, fromCompact)) {
        std::abort();
    }
    const std::string styled2 = JsonStyled(again);
    Json::Value third;
    if (!JsonParse(styled2, third) || JsonStyled(third) != styled2) {
        std::abort();
    }
    const std::string compact2 = JsonCompact(fromCompact);
    Json::Value third2;
    if (!JsonParse(compact2, third2) || JsonCompact(third2) != compact2) {
        std::abort();
    }
    // Both layouts describe the same document.
    if (JsonCompact(third) != JsonCompact(third2)) {
        std::abort();
    }
    return 0;
}
