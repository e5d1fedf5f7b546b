#pragma once
// Reading an HTTP response head. No sockets involved, so the rules can be tested and fuzzed on
// their own.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct ResponseHead {
    std::string statusLine;                     // the first line, without its line end
    std::map<std::string, std::string> headers; // lower-cased names; a repeated name replaces

    // Parses a head up to and including its empty line. Lines without ':' and lines whose
    // name is empty are skipped; names and values lose surrounding blanks and tabs.
    static ResponseHead Parse(std::string_view head);

    // The number between the first and the second blank of the status line (its leading
    // digits); 404 when the line lacks either blank.
    int StatusCode() const;
    // A header by name, case-insensitively; "" when absent.
    std::string Header(const std::string& name) const;
    // Content-Length when it is plain decimal digits of at most 18 places; otherwise 0.
    int64_t ContentLength() const;
};

std::string LowerAscii(std::string text);
