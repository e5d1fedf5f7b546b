#pragma once
// What an endpoint handler answers. The dispatcher adds Server, Connection and Content-Length
// and writes the head; headers go out in ascending byte order of their names.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct HttpResponse {
    int status = 200; // 200 or 403; anything else closes the connection without a response
    std::string contentType = "text/html";
    // Further headers such as "FileName", "FileTime", "X-Ext". CR and LF are removed from values.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Close the connection without sending anything.
    bool closeWithoutResponse = false;

    // Adds the header or replaces the value of one with the same name.
    void SetHeader(std::string_view name, std::string_view value);
};
