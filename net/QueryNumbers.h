#pragma once
// Numbers from query values and path parameters, read the way atoi and _atoi64 read them
// (leading blanks, an optional sign, digits up to the first other character, 0 when there are
// none) but clamped to the type's range instead of overflowing.

#include <cstdint>
#include <string_view>

int32_t ParseInt32(std::string_view text);
int64_t ParseInt64(std::string_view text);

// a * b * c + d without overflow, clamped to [0, INT64_MAX].
int64_t ClampedProductSum(int64_t a, int64_t b, int64_t c, int64_t d);
