#include "net/CHWebServer.h"

#include "library/IDBCenter.h"
#include "media/TextUtil.h"
#include "net/WebAppFiles.h"
#include "platform/FileSystem.h"
#include "platform/Folders.h"
#include "shell/AccessPoints.h"

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

// A browser names the page that made a request in "Origin". A loopback caller with an origin
// that is not this PC is a web page the user merely visited, using the browser as its way in.
bool IsForeignOrigin(const std::map<std::string, std::string, std::less<>>& headers) {
    auto it = headers.find("origin");
    if (it == headers.end()) {
        return false;
    }
    std::string host = it->second;
    LowerAscii(host);
    size_t scheme = host.find("://");
    if (scheme == std::string::npos) {
        return true; // "null" (sandboxed pages, files) and anything unreadable
    }
    host.erase(0, scheme + 3);
    size_t end = host[0] == '[' ? host.find(']') + 1 : host.find(':');
    host = host.substr(0, end);
    return host != "127.0.0.1" && host != "localhost" && host != "[::1]";
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

int CHWebServer::OnRequest(std::string head, std::string body, const std::string& peer,
                           std::string& response) {
    return HandleRequest(std::move(head), std::move(body), peer, response);
}

int CHWebServer::HandleRequest(std::string head, std::string body, const std::string& peer,
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
        request.peer = peer;
        request.body = std::move(body);

        if (HandlerPtr open = FindRoute(m_openRoutes, request.routeKey)) {
            HttpResponse answer;
            (*open)(request, answer);
            return Answer(answer, headers, response);
        }
        if (IsWebAppRequest(request.method, request.path)) {
            return ServeWebApp(request, headers, response);
        }
        if (!IsAllowed(request)) {
            headers["Content-Type"] = "text/html";
            headers["Content-Length"] = std::to_string(sizeof(kForbiddenBody) - 1);
            BuildResponseHead(403, headers, response);
            response += kForbiddenBody;
            return 1;
        }
        if (HandlerPtr handler = FindRoute(m_routes, request.routeKey)) {
            HttpResponse answer;
            (*handler)(request, answer);
            return Answer(answer, headers, response);
        }
        return ServeStatic(request, headers, response);
    } catch (...) {
        response.clear();
        return 0;
    }
}

bool CHWebServer::IsAllowed(const HttpRequest& request) const {
    if (request.peer == kLoopbackPeer && !IsForeignOrigin(request.headers)) {
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

bool CHWebServer::WantsBody(std::string_view head, const std::string& peer) {
    RequestHead parsed;
    if (!ParseRequest(head, parsed)) {
        return false;
    }
    if (peer == kLoopbackPeer && !IsForeignOrigin(parsed.headers)) {
        return true;
    }
    HttpRequest request;
    ParseQuery(parsed.target, request.query);
    if (!request.HasQuery("key")) {
        return false;
    }
    IDBCenter* db = GetDBCenter();
    return db != nullptr && db->IsAuthorized(request.Query("key"));
}

int CHWebServer::Answer(HttpResponse& answer, HeaderMap& headers, std::string& response) const {
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
