// Request framing and parsing on arbitrary bytes. The first byte chooses how the rest is cut
// into receives; framing must not depend on the cut except for a body without Content-Length.

#include "net/CHWebServer.h"
#include "net/HttpFramer.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Every CR in a head is followed by LF and every LF preceded by CR.
bool LineBreaksWellFormed(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) {
            return false;
        }
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            return false;
        }
    }
    return true;
}

CHWebServer& Server() {
    static CHWebServer server(0);
    static bool configured = [] {
        server.SetPagesFolder("/nonexistent-vellumo-pages");
        server.AddRoute("/devices", [](const HttpRequest& request, HttpResponse& response) {
            response.body = request.Query("key");
            response.SetHeader("FileName", request.Header("x-name"));
        });
        return true;
    }();
    (void)configured;
    return server;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    size_t step = 1 + data[0] % 64;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

    HttpFrameLimits limits;
    limits.maxHead = 2048; // small enough for the fuzzer to reach
    limits.maxBody = 4096;
    HttpFramer whole(limits);
    HttpFramer pieces(limits);
    whole.Feed(input);
    for (size_t at = 0; at < input.size(); at += step) {
        pieces.Feed(input.substr(at, step));
    }
    Check(whole.GetState() == pieces.GetState());
    if (whole.GetState() != HttpFramer::State::Complete) {
        return 0;
    }
    Check(whole.Head() == pieces.Head());
    Check(whole.Head().size() <= limits.maxHead);
    Check(whole.Head().substr(whole.Head().size() - 4) == "\r\n\r\n");
    if (whole.ContentLength() >= 0) {
        Check(whole.Body() == pieces.Body());
        Check(whole.Body().size() == static_cast<size_t>(whole.ContentLength()));
    }

    CHWebServer::RequestHead head;
    if (CHWebServer::ParseRequest(whole.Head(), head)) {
        std::map<std::string, std::string, std::less<>> query;
        CHWebServer::ParseQuery(head.target, query);
        std::string path = CHWebServer::PathOf(head.target);
        std::string route = CHWebServer::RouteKeyOf(path);
        Check(path.size() <= head.target.size());
        Check(route.size() <= path.size());
        CHWebServer::HeaderMap headers(head.headers.begin(), head.headers.end());
        headers.insert(query.begin(), query.end());
        std::string out;
        Check(CHWebServer::BuildResponseHead(200, headers, out));
        Check(LineBreaksWellFormed(out));
    }

    std::string headText(whole.Head());
    std::string body(whole.Body());
    for (const char* peer : {"127.0.0.1", "127.0.0.2"}) {
        std::string response;
        if (Server().HandleRequest(headText, body, {peer, true}, response) != 0) {
            size_t end = response.find("\r\n\r\n");
            Check(end != std::string::npos);
            Check(LineBreaksWellFormed(std::string_view(response).substr(0, end + 4)));
        }
    }
    return 0;
}
