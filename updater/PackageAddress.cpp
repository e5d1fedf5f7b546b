#include "updater/PackageAddress.h"

#include <algorithm>
#include <cctype>

namespace {

bool ParsePort(std::string_view text, int& port) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) {
        return false;
    }
    port = value;
    return true;
}

bool IsHostCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

// host or host:port
bool ParseHostPort(std::string_view text, HttpAddress& out) {
    size_t colon = text.rfind(':');
    std::string_view host = text.substr(0, colon);
    out.port = 80;
    if (colon != std::string_view::npos && !ParsePort(text.substr(colon + 1), out.port)) {
        return false;
    }
    if (host.empty() || host.size() > 253 ||
        !std::all_of(host.begin(), host.end(), IsHostCharacter)) {
        return false;
    }
    out.host = std::string(host);
    return true;
}

} // namespace

bool ParseHttpAddress(std::string_view text, HttpAddress& out) {
    constexpr std::string_view kScheme = "http://";
    if (text.size() < kScheme.size() || text.size() > 4096) {
        return false;
    }
    for (size_t i = 0; i < kScheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != kScheme[i]) {
            return false;
        }
    }
    for (char c : text) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F || c == '#') {
            return false;
        }
    }
    std::string_view rest = text.substr(kScheme.size());
    size_t pathStart = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, pathStart);
    std::string_view path =
        pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
    size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    HttpAddress parsed;
    if (!ParseHostPort(authority, parsed)) {
        return false;
    }
    parsed.path = path.empty() ? "/" : (path.front() == '?' ? "/" : "") + std::string(path);
    out = parsed;
    return true;
}
