#pragma once
// Code-page conversion. Code page 0 (the system "ANSI" page) is UTF-8 on this platform.

#include <string>
#include <string_view>

constexpr int CP_ACP = 0;
constexpr int CP_UTF8 = 65001;

// "" on failure or empty input. Invalid UTF-8 sequences fail the conversion, as the system
// routine does without flags.
std::u16string ToWide(std::string_view text, int codePage = CP_UTF8);
std::string ToNarrow(std::u16string_view text, int codePage = CP_UTF8);
// Replaces every invalid UTF-8 sequence by U+FFFD so the text can be written into JSON.
std::string MakeValidUtf8(std::string_view text);
