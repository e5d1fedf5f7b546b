#pragma once
// The program's one JSON layer over jsoncpp. Writers lay documents out exactly as the phone app
// and stored files expect; readers never throw.

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>

// Tab indentation, " : " between name and value, members ascending, UTF-8 unchanged, short
// arrays of scalars on one line, final line feed. A null root gives "null\n".
std::string JsonStyled(const Json::Value& value);
// No line breaks except the final line feed.
std::string JsonCompact(const Json::Value& value);
// Parses text into out. False with a message in error (if given) on malformed input, number
// tokens over 512 characters ("'<token>' is too large or not a number."), or nesting deeper than
// kJsonMaxDepth. "\uXXXX" escapes are kept as their six characters.
inline constexpr int kJsonMaxDepth = 256;
bool JsonParse(std::string_view text, Json::Value& out, std::string* error = nullptr);
// Reading any value as text never fails: integers as decimal, reals "%lf", booleans
// "true"/"false", arrays "array", objects "object", null "".
std::string JsonAsText(const Json::Value& value);
// Reading as a signed 64-bit integer: texts parsed as decimal (0 when not a number), reals
// truncated (clamped), booleans 0/1, everything else 0.
int64_t JsonAsInt64(const Json::Value& value);
// Member access that never throws: null when value is not an object or has no such member.
const Json::Value& JsonMember(const Json::Value& value, const char* name);
