#pragma once
// The HTTP layer over CHServer: parses the request, splits the query, lets callers in through
// the authorisation gate, dispatches on the route table and falls back to static files from the
// "Pages" folder. Every response carries "Server: Vellumo/1.2" and "Connection: Close".
// GET requests for the browser app ("/app", "Pages/app") are served before the gate.

#include "net/CHServer.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

class CHWebServer : public CHServer {
public:
    static constexpr char kServerName[] = "Vellumo/1.2";
    static constexpr char kForbiddenBody[] = "{\"Status\":\"failed\"}";

    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
    using HeaderMap = std::map<std::string, std::string>;

    struct RequestHead {
        std::string method;
        std::string target;
        std::string version;
        std::map<std::string, std::string, std::less<>> headers; // names lower-cased
    };

    // Port from $VELLUMO_PORT when valid, else 6639.
    CHWebServer();
    // 0 picks an ephemeral port.
    explicit CHWebServer(int port);
    ~CHWebServer() override;

    // Static files are served from here; default: the program's folder + "/Pages".
    void SetPagesFolder(const fs::path& folder);
    fs::path GetPagesFolder() const;

    // Routes behind the authorisation gate, keyed by route key ("/verify", "/album", ...).
    // Adding a key again replaces its handler. Safe while serving.
    void AddRoute(const std::string& routeKey, Handler handler);
    // Routes answered before the gate, to anyone ("/echo", "/echo2").
    void AddOpenRoute(const std::string& routeKey, Handler handler);

    // The pieces of the dispatcher, usable on their own.
    static bool ParseRequest(std::string_view head, RequestHead& out);
    static void ParseQuery(std::string_view target,
                           std::map<std::string, std::string, std::less<>>& out);
    static std::string PathOf(std::string_view target);
    static std::string RouteKeyOf(std::string_view path);
    // Status line (200 or 403 only: false otherwise), one line per header in the map's order,
    // blank line. CR and LF are removed from values; names holding them, ':' or nothing are
    // skipped.
    static bool BuildResponseHead(int status, const HeaderMap& headers, std::string& out);
    static std::string ContentTypeFor(std::string_view path);

    // The whole dispatcher on one request; returns what OnRequest returns.
    int HandleRequest(std::string head, std::string body, const std::string& peer,
                      std::string& response);
    // Keeps the body only for callers on this PC and for paired devices' keys. No handler that
    // anyone else reaches ("/auth", "/echo", the gate's refusal) reads a body, and a stranger
    // must not make the PC hold up to the body limit per connection.
    bool WantsBody(std::string_view head, const std::string& peer) override;

protected:
    int OnRequest(std::string head, std::string body, const std::string& peer,
                  std::string& response) override;

private:
    using HandlerPtr = std::shared_ptr<const Handler>;

    HandlerPtr FindRoute(const std::map<std::string, HandlerPtr, std::less<>>& table,
                         std::string_view key) const;
    bool IsAllowed(const HttpRequest& request) const;
    int ServeStatic(const HttpRequest& request, HeaderMap& headers, std::string& response) const;
    // The browser app's files ("/app..."), open to every caller; see net/WebAppFiles.h.
    int ServeWebApp(const HttpRequest& request, HeaderMap& headers, std::string& response) const;
    int Answer(HttpResponse& answer, HeaderMap& headers, std::string& response) const;

    mutable std::shared_mutex m_routeLock;
    std::map<std::string, HandlerPtr, std::less<>> m_routes;
    std::map<std::string, HandlerPtr, std::less<>> m_openRoutes;
    fs::path m_pages;
};
