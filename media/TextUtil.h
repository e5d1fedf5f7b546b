#pragma once
// Small text helpers shared by the program.

#include <string>
#include <string_view>
#include <vector>

// Removes \ / : * ? < > | . NUL and control characters. Never returns an empty or dots-only
// name: those become kSanitizedFallbackName.
inline constexpr const char* kSanitizedFallbackName = "unnamed";
std::string SanitizeFileName(std::string_view name);
// Pieces between delimiters; a trailing empty remainder is dropped ("a,,b," -> a, "", b).
std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter);
// The same with the fixed delimiter "|".
std::vector<std::string> SplitTextBar(std::string_view text);
// Strips leading/trailing spaces, then leading/trailing tabs.
std::string TrimBlanks(std::string_view text);
// Strips leading and trailing spaces only.
std::string TrimSpaces(std::string_view text);
