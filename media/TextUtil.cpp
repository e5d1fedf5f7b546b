#include "media/TextUtil.h"

#include "media/TextCodec.h"

#include <cstring>

std::string SanitizeFileName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            continue; // NUL and control characters
        }
        if (std::strchr("\\/:*?<>|.", ch) != nullptr) {
            continue;
        }
        out += ch;
    }
    // A folder name must be text the file system and the JSON layer can carry.
    out = MakeValidUtf8(out);
    // At most 255 bytes (NAME_MAX), cut at a character boundary.
    if (out.size() > 255) {
        size_t cut = 255;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        out.resize(cut);
    }
    if (out.find_first_not_of(' ') == std::string::npos) {
        return kSanitizedFallbackName; // empty or blanks only
    }
    return out;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter) {
    std::vector<std::string> pieces;
    if (text.empty()) {
        return pieces;
    }
    if (delimiter.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    size_t pos = 0;
    for (;;) {
        size_t found = text.find(delimiter, pos);
        if (found == std::string_view::npos) {
            break;
        }
        pieces.emplace_back(text.substr(pos, found - pos));
        pos = found + delimiter.size();
    }
    if (pos < text.size()) {
        pieces.emplace_back(text.substr(pos));
    }
    return pieces;
}

// In UTF-8 the byte '|' never occurs inside a multibyte character, so a byte search is the
// multibyte-aware search.
std::vector<std::string> SplitTextBar(std::string_view text) {
    return SplitText(text, "|");
}

namespace {
std::string_view Strip(std::string_view text, char c) {
    size_t first = text.find_first_not_of(c);
    if (first == std::string_view::npos) {
        return {};
    }
    size_t last = text.find_last_not_of(c);
    return text.substr(first, last - first + 1);
}
} // namespace

std::string TrimBlanks(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    return std::string(Strip(Strip(text, ' '), '\t'));
}

std::string TrimSpaces(std::string_view text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}
