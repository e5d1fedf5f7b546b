#pragma once
// One parsed HTTP request as the endpoint handlers see it.

#include <map>
#include <string>
#include <string_view>

struct HttpRequest {
    std::string method;   // "GET" or "POST"
    std::string target;   // request target as sent
    std::string version;  // "HTTP/1.0" or "HTTP/1.1"
    std::string path;     // target without its query, not percent-decoded
    std::string routeKey; // path up to the second "/", e.g. "/album" for "/album/2014/Trip"
    std::string peer;     // dotted IPv4 address of the caller
    // Header names are lower-cased; a later header of the same name replaced an earlier one.
    std::map<std::string, std::string, std::less<>> headers;
    // Query values are raw: not percent-decoded. A later duplicate key replaced the earlier one.
    std::map<std::string, std::string, std::less<>> query;
    std::string body; // exactly the announced Content-Length bytes, or what came with the head

    // "" when the key is absent; never throws.
    const std::string& Query(std::string_view key) const;
    bool HasQuery(std::string_view key) const;
    // Case-insensitive name; "" when absent.
    const std::string& Header(std::string_view name) const;
};
