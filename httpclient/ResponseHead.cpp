#include "httpclient/ResponseHead.h"

namespace {

std::string_view TrimSpaceTab(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

ResponseHead ResponseHead::Parse(std::string_view head) {
    ResponseHead parsed;
    size_t lineEnd = head.find("\r\n");
    if (lineEnd == std::string_view::npos) {
        parsed.statusLine = std::string(head);
        return parsed;
    }
    parsed.statusLine = std::string(head.substr(0, lineEnd));
    size_t at = lineEnd + 2;
    while (at < head.size()) {
        size_t end = head.find("\r\n", at);
        if (end == std::string_view::npos || end == at) {
            break;
        }
        std::string_view line = head.substr(at, end - at);
        at = end + 2;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        std::string_view name = TrimSpaceTab(line.substr(0, colon));
        if (name.empty()) {
            continue;
        }
        parsed.headers[LowerAscii(std::string(name))] =
            std::string(TrimSpaceTab(line.substr(colon + 1)));
    }
    return parsed;
}

int ResponseHead::StatusCode() const {
    size_t first = statusLine.find(' ');
    if (first == std::string::npos) {
        return 404;
    }
    size_t second = statusLine.find(' ', first + 1);
    if (second == std::string::npos) {
        return 404;
    }
    // Leading decimal digits, as a C conversion reads them; bounded so it cannot overflow.
    int code = 0;
    for (size_t i = first + 1; i < second && i < first + 10; ++i) {
        char c = statusLine[i];
        if (c < '0' || c > '9') {
            break;
        }
        code = code * 10 + (c - '0');
    }
    return code;
}

std::string ResponseHead::Header(const std::string& name) const {
    auto found = headers.find(LowerAscii(name));
    return found == headers.end() ? std::string() : found->second;
}

int64_t ResponseHead::ContentLength() const {
    std::string text = Header("content-length");
    if (text.empty() || text.size() > 18) {
        return 0;
    }
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}
