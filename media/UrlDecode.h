#pragma once

#include <string>
#include <string_view>

// Replaces "%XX" (two hex digits, either case) by its byte; everything else, '+' included, stays.
std::string UrlDecode(std::string_view text);
