#pragma once
// What an endpoint handler answers. The dispatcher adds Server, Connection and Content-Length
// and writes the head; headers go out in ascending byte order of their names.

#include <chrono>
#include <functional>
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

    // Sends a later answer on the waiting connection, from any thread; only the first call
    // counts.
    using AnswerFn = std::function<void(const HttpResponse& answer)>;
    // Set by a handler that answers later: once the handler has returned, the dispatcher calls
    // it with the function that sends the answer. No thread waits meanwhile. When no answer has
    // come within answerTimeout, this response itself is sent.
    std::function<void(AnswerFn answer)> answerLater;
    std::chrono::milliseconds answerTimeout{60000};

    // Adds the header or replaces the value of one with the same name.
    void SetHeader(std::string_view name, std::string_view value);
};
