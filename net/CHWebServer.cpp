#include "net/CHWebServer.h"

#include "library/IDBCenter.h"
#include "media/TextUtil.h"
#include "net/WebAppFiles.h"
#include "platform/FileSystem.h"
#include "platform/Folders.h"
#include "shell/AccessPoints.h"

#include <future>
#include <memory>
#include <mutex>
#include <system_error>

namespace {

constexpr char kLoopbackPeer[] = "127.0.0.1";
constexpr char kAuthRoute[] = "/auth";

void LowerAscii(std::string& text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
}

using HeaderTable = std::map<std::string, std::string, std::less<>>;

bool IsDecimal(std::string_view text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// Four decimal numbers up to 255, the first 127.
bool IsLoopbackIpv4(std::string_view text) {
    std::vector<std::string> parts = SplitText(text, ".");
    if (parts.size() != 4 || text.back() == '.') {
        return false;
    }
    for (const std::string& part : parts) {
        if (!IsDecimal(part, 3) || std::stoi(part) > 255) {
            return false;
        }
    }
    return parts[0] == "127";
}

// Splits "name:port" or "[v6]:port"; false when the text is not of that form.
bool SplitHostPort(std::string_view text, std::string& host, std::string& port) {
    if (!text.empty() && text.front() == '[') {
        size_t close = text.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        host = std::string(text.substr(0, close + 1));
        text.remove_prefix(close + 1);
        if (text.empty()) {
            port.clear();
            return true;
        }
        if (text.front() != ':') {
            return false;
        }
        port = std::string(text.substr(1));
        return IsDecimal(port, 5);
    }
    size_t colon = text.find(':');
    host = std::string(text.substr(0, colon));
    port = colon == std::string_view::npos ? std::string() : std::string(text.substr(colon + 1));
    return !host.empty() && (colon == std::string_view::npos || IsDecimal(port, 5));
}

// A browser names the page that made a request in "Origin". Only pages this service serves
// itself, over a loopback name and on its own port, are this PC; any other page (another port
// on localhost included) is one the user merely visited, using the browser as its way in.
bool IsOwnOrigin(std::string_view origin, int ownPort) {
    std::string text(origin);
    LowerAscii(text);
    constexpr std::string_view kScheme = "http://";
    if (text.compare(0, kScheme.size(), kScheme) != 0) {
        return false; // "null" (sandboxed pages, files), https and anything unreadable
    }
    std::string host;
    std::string port;
    if (!SplitHostPort(std::string_view(text).substr(kScheme.size()), host, port) ||
        !CHWebServer::IsLoopbackHost(host)) {
        return false;
    }
    return (port.empty() ? 80 : std::stoi(port)) == ownPort;
}

// Fetch metadata: a request a page of another site made, even one without "Origin" (images,
// plain links and form posts of other sites send none).
bool IsCrossSiteFetch(const HeaderTable& headers) {
    auto it = headers.find("sec-fetch-site");
    if (it == headers.end()) {
        return false;
    }
    std::string site = it->second;
    LowerAscii(site);
    return site == "cross-site" || site == "same-site";
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

CHWebServer::CHWebServer() : CHServer(), m_pages(GetModuleDir() / "Pages") {}

CHWebServer::CHWebServer(int port) : CHServer(port), m_pages(GetModuleDir() / "Pages") {}

CHWebServer::~CHWebServer() {
    // Workers call OnRequest, which reads the members of this class.
    StopAndWait();
}

void CHWebServer::SetPagesFolder(const fs::path& folder) {
    std::unique_lock lock(m_routeLock);
    m_pages = folder;
}

fs::path CHWebServer::GetPagesFolder() const {
    std::shared_lock lock(m_routeLock);
    return m_pages;
}

void CHWebServer::AddRoute(const std::string& routeKey, Handler handler) {
    auto shared = std::make_shared<const Handler>(std::move(handler));
    std::unique_lock lock(m_routeLock);
    m_routes[routeKey] = std::move(shared);
}

void CHWebServer::AddOpenRoute(const std::string& routeKey, Handler handler) {
    auto shared = std::make_shared<const Handler>(std::move(handler));
    std::unique_lock lock(m_routeLock);
    m_openRoutes[routeKey] = std::move(shared);
}

CHWebServer::HandlerPtr
CHWebServer::FindRoute(const std::map<std::string, HandlerPtr, std::less<>>& table,
                       std::string_view key) const {
    std::shared_lock lock(m_routeLock);
    auto it = table.find(key);
    return it == table.end() ? nullptr : it->second;
}

bool CHWebServer::ParseRequest(std::string_view head, RequestHead& out) {
    out = RequestHead();
    if (head.empty()) {
        return false;
    }
    size_t lineEnd = head.find("\r\n");
    if (lineEnd == std::string_view::npos) {
        return false;
    }
    std::vector<std::string> tokens = SplitText(head.substr(0, lineEnd), " ");
    if (tokens.size() < 3) {
        return false;
    }
    out.method = TrimBlanks(tokens[0]);
    out.target = TrimBlanks(tokens[1]);
    out.version = TrimBlanks(tokens[2]);
    if ((out.version != "HTTP/1.0" && out.version != "HTTP/1.1") ||
        (out.method != "GET" && out.method != "POST")) {
        return false;
    }
    size_t pos = lineEnd + 2;
    for (;;) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string_view::npos) {
            break;
        }
        std::string_view line = head.substr(pos, end - pos);
        pos = end + 2;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        std::string name = TrimSpaces(line.substr(0, colon));
        if (name.empty()) {
            continue;
        }
        LowerAscii(name);
        out.headers[name] = TrimSpaces(line.substr(colon + 1));
    }
    return true;
}

void CHWebServer::ParseQuery(std::string_view target,
                             std::map<std::string, std::string, std::less<>>& out) {
    out.clear();
    size_t mark = target.find('?');
    // A target without "?" is taken as query text as a whole.
    std::string_view text = mark == std::string_view::npos ? target : target.substr(mark + 1);
    for (const std::string& piece : SplitText(text, "&")) {
        size_t equals = piece.find('=');
        if (equals == std::string::npos) {
            out[piece] = piece;
        } else {
            out[piece.substr(0, equals)] = piece.substr(equals + 1);
        }
    }
}

std::string CHWebServer::PathOf(std::string_view target) {
    return std::string(target.substr(0, target.find('?')));
}

std::string CHWebServer::RouteKeyOf(std::string_view path) {
    if (path.empty()) {
        return {};
    }
    return std::string(path.substr(0, path.find('/', 1)));
}

bool CHWebServer::BuildResponseHead(int status, const HeaderMap& headers, std::string& out) {
    out.clear();
    if (status == 200) {
        out = "HTTP/1.1 200 OK\r\n";
    } else if (status == 403) {
        out = "HTTP/1.1 403 Forbidden\r\n";
    } else {
        return false;
    }
    for (const auto& [name, value] : headers) {
        if (name.empty() || HasLineBreak(name) || name.find(':') != std::string::npos) {
            continue;
        }
        out += name;
        out += ": ";
        for (char c : value) {
            if (c != '\r' && c != '\n') {
                out += c;
            }
        }
        out += "\r\n";
    }
    out += "\r\n";
    return true;
}

std::string CHWebServer::ContentTypeFor(std::string_view path) {
    size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    std::string_view extension = dot == std::string_view::npos ? "" : name.substr(dot);
    if (extension == ".css") {
        return "text/css";
    }
    if (extension == ".js") {
        return "application/javascript";
    }
    if (extension == ".png") {
        return "image/png";
    }
    if (extension == ".jpg") {
        return "image/jpeg";
    }
    return "text/html";
}

int CHWebServer::OnRequest(std::string head, std::string body, const Peer& peer,
                           std::string& response) {
    return HandleRequest(std::move(head), std::move(body), peer, response);
}

bool CHWebServer::IsLoopbackHost(std::string_view text) {
    std::string host;
    std::string port;
    if (!SplitHostPort(text, host, port)) {
        return false;
    }
    LowerAscii(host);
    return host == "localhost" || host == "[::1]" || IsLoopbackIpv4(host);
}

bool CHWebServer::HasLoopbackPass(const Peer& peer, const HeaderTable& headers) const {
    if (peer.address != kLoopbackPeer || !peer.localUser || IsCrossSiteFetch(headers)) {
        return false;
    }
    // A page whose name was made to point at 127.0.0.1 still sends its own name as Host.
    auto host = headers.find("host");
    if (host != headers.end() && !IsLoopbackHost(host->second)) {
        return false;
    }
    auto origin = headers.find("origin");
    return origin == headers.end() || IsOwnOrigin(origin->second, BoundPort());
}

int CHWebServer::HandleRequest(std::string head, std::string body, const Peer& peer,
                               std::string& response) {
    response.clear();
    try {
        HeaderMap headers{{"Server", kServerName}, {"Connection", "Close"}};
        RequestHead parsed;
        if (!ParseRequest(head, parsed)) {
            headers["Content-Type"] = "text/html";
            BuildResponseHead(200, headers, response);
            return 1;
        }

        HttpRequest request;
        request.method = std::move(parsed.method);
        request.target = std::move(parsed.target);
        request.version = std::move(parsed.version);
        request.headers = std::move(parsed.headers);
        ParseQuery(request.target, request.query);
        request.path = PathOf(request.target);
        request.routeKey = RouteKeyOf(request.path);
        request.peer = peer.address;
        request.body = std::move(body);
        const bool loopbackPass = HasLoopbackPass(peer, request.headers);

        if (HandlerPtr open = FindRoute(m_openRoutes, request.routeKey)) {
            HttpResponse answer;
            (*open)(request, answer);
            if (answer.answerLater) {
                return AnswerLater(answer, headers, response);
            }
            return Answer(answer, headers, response);
        }
        if (IsWebAppRequest(request.method, request.path)) {
            return ServeWebApp(request, headers, response);
        }
        if (!IsAllowed(request, loopbackPass)) {
            headers["Content-Type"] = "text/html";
            headers["Content-Length"] = std::to_string(sizeof(kForbiddenBody) - 1);
            BuildResponseHead(403, headers, response);
            response += kForbiddenBody;
            return 1;
        }
        if (HandlerPtr handler = FindRoute(m_routes, request.routeKey)) {
            HttpResponse answer;
            (*handler)(request, answer);
            if (answer.answerLater) {
                return AnswerLater(answer, headers, response);
            }
            return Answer(answer, headers, response);
        }
        return ServeStatic(request, headers, response);
    } catch (...) {
        response.clear();
        return 0;
    }
}

bool CHWebServer::IsAllowed(const HttpRequest& request, bool loopbackPass) const {
    if (loopbackPass) {
        return true;
    }
    if (!request.HasQuery("key")) {
        return false;
    }
    if (request.routeKey == kAuthRoute) {
        return true;
    }
    IDBCenter* db = GetDBCenter();
    return db != nullptr && db->IsAuthorized(request.Query("key"));
}

CHServer::HeadVerdict CHWebServer::OnHead(std::string_view head, const Peer& peer) {
    using Body = HeadVerdict::Body;
    RequestHead parsed;
    if (!ParseRequest(head, parsed)) {
        return {Body::Drop, {}};
    }
    HttpRequest request;
    ParseQuery(parsed.target, request.query);
    request.routeKey = RouteKeyOf(PathOf(parsed.target));
    const std::string& key = request.Query("key");
    IDBCenter* db = GetDBCenter();
    if (request.HasQuery("key") && db != nullptr && db->IsAuthorized(key)) {
        return {Body::Keep, key};
    }
    if (HasLoopbackPass(peer, parsed.headers)) {
        return {Body::Keep, {}};
    }
    if (FindRoute(m_openRoutes, request.routeKey) ||
        (request.routeKey == kAuthRoute && request.HasQuery("key"))) {
        return {Body::Drop, {}};
    }
    return {Body::Answer, {}};
}

int CHWebServer::AnswerLater(const HttpResponse& answer, const HeaderMap& headers,
                             std::string& response) {
    std::string fallback;
    if (Answer(answer, headers, fallback) == 0) {
        fallback.clear(); // the time-out closes without an answer
    }
    const auto timeoutMs = static_cast<int>(answer.answerTimeout.count());
    Deferral deferral = DeferAnswer(fallback, timeoutMs);
    if (deferral.Valid()) {
        auto once = std::make_shared<std::once_flag>();
        answer.answerLater([deferral, headers, once](const HttpResponse& later) {
            std::call_once(*once, [&] {
                std::string text;
                deferral.Send(Answer(later, headers, text) != 0 ? text : std::string());
            });
        });
        response.clear();
        return 1;
    }
    // Called outside the server's own dispatch (tools, tests): wait here for the answer.
    auto promise = std::make_shared<std::promise<std::string>>();
    auto once = std::make_shared<std::once_flag>();
    std::future<std::string> result = promise->get_future();
    answer.answerLater([promise, headers, once](const HttpResponse& later) {
        std::call_once(*once, [&] {
            std::string text;
            promise->set_value(Answer(later, headers, text) != 0 ? text : std::string());
        });
    });
    if (result.wait_for(answer.answerTimeout) == std::future_status::ready) {
        response = result.get();
    } else {
        response = fallback;
    }
    return response.empty() ? 0 : 1;
}

int CHWebServer::Answer(const HttpResponse& answer, HeaderMap headers, std::string& response) {
    if (answer.closeWithoutResponse) {
        return 0;
    }
    headers["Content-Type"] = answer.contentType;
    for (const auto& [name, value] : answer.headers) {
        headers[name] = value;
    }
    headers["Content-Length"] = std::to_string(answer.body.size());
    if (!BuildResponseHead(answer.status, headers, response)) {
        response.clear();
        return 0;
    }
    response += answer.body;
    return 1;
}

int CHWebServer::ServeStatic(const HttpRequest& request, HeaderMap& headers,
                             std::string& response) const {
    std::string bytes;
    if (!ReadFileInside(GetPagesFolder(), request.path, bytes)) {
        return 0;
    }
    headers["Content-Type"] = ContentTypeFor(request.path);
    headers["Content-Length"] = std::to_string(bytes.size());
    BuildResponseHead(200, headers, response);
    response += bytes;
    return 1;
}

int CHWebServer::ServeWebApp(const HttpRequest& request, HeaderMap& headers,
                             std::string& response) const {
    const std::string file = WebAppFilePath(request.path);
    std::string bytes;
    if (!ReadFileInside(GetPagesFolder() / kWebAppFolder, file, bytes)) {
        return 0;
    }
    headers["Content-Type"] = WebAppContentType(file);
    headers["Content-Length"] = std::to_string(bytes.size());
    headers["Content-Security-Policy"] = kWebAppPolicy;
    headers["X-Content-Type-Options"] = "nosniff";
    headers["Referrer-Policy"] = "no-referrer";
    // The pages change with the program; the browser asks again instead of keeping old copies.
    headers["Cache-Control"] = "no-cache";
    BuildResponseHead(200, headers, response);
    response += bytes;
    return 1;
}
