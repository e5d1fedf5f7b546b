#pragma once
// Base64 with the RFC 4648 alphabet and '=' padding, no line breaks.

#include <string>
#include <string_view>

// Encodes the text up to its first zero byte (callers pass texts). "" for empty input.
std::string Base64Encode(std::string_view text);
// Decodes; characters outside the alphabet are skipped. The result is used as text and is cut
// at its first zero byte. "" for empty input.
std::string Base64Decode(std::string_view text);
// Byte-exact forms (all bytes, no cut at zero) for callers that carry binary data.
std::string Base64EncodeBytes(std::string_view bytes);
std::string Base64DecodeBytes(std::string_view text);
