#include "net/QueryNumbers.h"

#include <limits>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The value as a magnitude with its sign, saturating at limit + 1 so that both ends of the
// signed range can be represented.
int64_t ParseClamped(std::string_view text, int64_t min, int64_t max) {
    size_t at = 0;
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    const uint64_t limit =
        negative ? static_cast<uint64_t>(-(min + 1)) + 1 : static_cast<uint64_t>(max);
    uint64_t magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        uint64_t digit = static_cast<uint64_t>(text[at] - '0');
        if (magnitude > (limit - digit) / 10) {
            magnitude = limit;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (!negative) {
        return static_cast<int64_t>(magnitude);
    }
    if (magnitude == 0) {
        return 0;
    }
    return -static_cast<int64_t>(magnitude - 1) - 1;
}

} // namespace

int32_t ParseInt32(std::string_view text) {
    return static_cast<int32_t>(ParseClamped(text, std::numeric_limits<int32_t>::min(),
                                             std::numeric_limits<int32_t>::max()));
}

int64_t ParseInt64(std::string_view text) {
    return ParseClamped(text, std::numeric_limits<int64_t>::min(),
                        std::numeric_limits<int64_t>::max());
}

int64_t ClampedProductSum(int64_t a, int64_t b, int64_t c, int64_t d) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t product = 0;
    if (a != 0 && b != 0 && c != 0 &&
        (__builtin_mul_overflow(a, b, &product) || __builtin_mul_overflow(product, c, &product))) {
        // Saturate at the end the true product lies beyond.
        bool negative = ((a < 0) != (b < 0)) != (c < 0);
        product = negative ? std::numeric_limits<int64_t>::min() : kMax;
    }
    int64_t sum = 0;
    if (__builtin_add_overflow(product, d, &sum)) {
        sum = d > 0 ? kMax : 0;
    }
    return sum < 0 ? 0 : sum;
}
