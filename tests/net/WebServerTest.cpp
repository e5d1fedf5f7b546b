// The HTTP layer: request parsing, query and route rules, response heads, the gate, routes and
// static files.

#include "FakeDBCenter.h"
#include "NetClient.h"
#include "net/CHWebServer.h"
#include "net/SocketOwner.h"
#include "shell/AccessPoints.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

using namespace std::chrono_literals;

namespace {

constexpr char kEmptyOkHead[] = "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Type: "
                                "text/html\r\nServer: Vellumo/1.2\r\n\r\n";
constexpr char kForbidden[] = "HTTP/1.1 403 Forbidden\r\nConnection: Close\r\nContent-Length: "
                              "19\r\nContent-Type: text/html\r\nServer: Vellumo/1.2\r\n\r\n"
                              "{\"Status\":\"failed\"}";

std::string Get(int port, const std::string& target, const char* from = nullptr) {
    return Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", from);
}

std::string OkHead(const std::string& type, size_t length) {
    return "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: " + std::to_string(length) +
           "\r\nContent-Type: " + type + "\r\nServer: Vellumo/1.2\r\n\r\n";
}

TEST(HttpParse, RequestLineMethodVersionAndHeaders) {
    CHWebServer::RequestHead head;
    ASSERT_TRUE(CHWebServer::ParseRequest("POST /import?key=a HTTP/1.0\r\nHost:  pc \r\n"
                                          "X-Mixed-Case : v:w\r\nno colon line\r\n"
                                          " : empty name\r\nhost: second\r\n\r\n",
                                          head));
    EXPECT_EQ(head.method, "POST");
    EXPECT_EQ(head.target, "/import?key=a");
    EXPECT_EQ(head.version, "HTTP/1.0");
    EXPECT_EQ(head.headers.size(), 2u);
    EXPECT_EQ(head.headers["host"], "second");
    EXPECT_EQ(head.headers["x-mixed-case"], "v:w");
    // Tokens past the third are ignored.
    EXPECT_TRUE(CHWebServer::ParseRequest("GET / HTTP/1.1 extra\r\n\r\n", head));

    for (const char* bad :
         {"", "GET / HTTP/1.1", "PUT / HTTP/1.1\r\n\r\n", "GET / HTTP/2.0\r\n\r\n",
          "get / HTTP/1.1\r\n\r\n", "GET  / HTTP/1.1\r\n\r\n", "GET /\r\n\r\n", "\r\n\r\n"}) {
        EXPECT_FALSE(CHWebServer::ParseRequest(bad, head)) << bad;
    }
}

TEST(HttpParse, QueryPathAndRouteKey) {
    std::map<std::string, std::string, std::less<>> query;
    CHWebServer::ParseQuery("/thumb/12?w=300&key=a&key=b&name=a%20b&flag&x=1=2", query);
    EXPECT_EQ(query["key"], "b");
    EXPECT_EQ(query["name"], "a%20b");
    EXPECT_EQ(query["flag"], "flag");
    EXPECT_EQ(query["x"], "1=2");
    EXPECT_EQ(query["w"], "300");
    CHWebServer::ParseQuery("/devices", query);
    ASSERT_EQ(query.size(), 1u);
    EXPECT_EQ(query["/devices"], "/devices");

    EXPECT_EQ(CHWebServer::PathOf("/album/2014?key=a?b"), "/album/2014");
    EXPECT_EQ(CHWebServer::PathOf("/echo2"), "/echo2");
    EXPECT_EQ(CHWebServer::RouteKeyOf("/album/2014/Trip"), "/album");
    EXPECT_EQ(CHWebServer::RouteKeyOf("/devices"), "/devices");
    EXPECT_EQ(CHWebServer::RouteKeyOf("/"), "/");
    EXPECT_EQ(CHWebServer::RouteKeyOf("//x"), "/");
    EXPECT_EQ(CHWebServer::RouteKeyOf(""), "");

    HttpRequest request;
    request.query = query;
    EXPECT_EQ(request.Query("missing"), "");
    EXPECT_FALSE(request.HasQuery("missing"));
    request.headers["content-type"] = "x";
    EXPECT_EQ(request.Header("Content-Type"), "x");
    EXPECT_EQ(request.Header("Accept"), "");
}

TEST(HttpHead, HeadersInByteOrderOnlyKnownStatusesNoLineBreaks) {
    std::string out;
    CHWebServer::HeaderMap headers{{"X-Ext", "e"},         {"Server", "Vellumo/1.2"},
                                   {"FileTime", "-5"},     {"FileName", "a.jpg"},
                                   {"Content-Type", "t"},  {"Content-Length", "3"},
                                   {"Connection", "Close"}};
    ASSERT_TRUE(CHWebServer::BuildResponseHead(200, headers, out));
    EXPECT_EQ(out,
              "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: 3\r\nContent-Type: "
              "t\r\nFileName: a.jpg\r\nFileTime: -5\r\nServer: Vellumo/1.2\r\nX-Ext: e\r\n\r\n");
    ASSERT_TRUE(CHWebServer::BuildResponseHead(403, {}, out));
    EXPECT_EQ(out, "HTTP/1.1 403 Forbidden\r\n\r\n");
    for (int status : {0, 201, 404, 500}) {
        EXPECT_FALSE(CHWebServer::BuildResponseHead(status, headers, out)) << status;
        EXPECT_EQ(out, "");
    }
    ASSERT_TRUE(CHWebServer::BuildResponseHead(
        200, {{"FileName", "evil\r\nSet-Cookie: x\n.jpg"}, {"Bad\r\nName", "v"}, {"", "v"}}, out));
    EXPECT_EQ(out, "HTTP/1.1 200 OK\r\nFileName: evilSet-Cookie: x.jpg\r\n\r\n");
}

TEST(HttpHead, ContentTypeByExactExtension) {
    EXPECT_EQ(CHWebServer::ContentTypeFor("/a/site.css"), "text/css");
    EXPECT_EQ(CHWebServer::ContentTypeFor("/app.js"), "application/javascript");
    EXPECT_EQ(CHWebServer::ContentTypeFor("/i.png"), "image/png");
    EXPECT_EQ(CHWebServer::ContentTypeFor("/p.jpg"), "image/jpeg");
    EXPECT_EQ(CHWebServer::ContentTypeFor("/P.JPG"), "text/html");
    EXPECT_EQ(CHWebServer::ContentTypeFor("/x.css/readme"), "text/html");
    EXPECT_EQ(CHWebServer::ContentTypeFor("/index.html"), "text/html");
}

class WebServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_server.AddRoute("/devices", [](const HttpRequest& request, HttpResponse& response) {
            response.body = "devices:" + request.path + ":" + request.Query("key") + ":" +
                            request.peer + ":" + request.body;
        });
        m_server.AddRoute("/auth", [](const HttpRequest& request, HttpResponse& response) {
            response.body = "auth:" + request.Query("key");
        });
        m_server.AddRoute("/image", [](const HttpRequest&, HttpResponse& response) {
            response.contentType = "image/jpeg";
            response.SetHeader("FileTime", "1388534400");
            response.SetHeader("FileName", "IMG_1.JPG");
            response.body = "jpegbytes";
        });
        m_server.AddRoute("/odd", [](const HttpRequest& request, HttpResponse& response) {
            if (request.HasQuery("close")) {
                response.closeWithoutResponse = true;
            }
            if (request.HasQuery("status")) {
                response.status = 404;
            }
            if (request.HasQuery("throw")) {
                throw std::runtime_error("handler failure");
            }
            response.body = "odd";
        });
        m_server.AddOpenRoute("/echo", [](const HttpRequest&, HttpResponse& response) {
            response.SetHeader("X-Ext", "aWQ=");
            response.body = "host";
        });
        m_server.SetPagesFolder(m_dir / "Pages");
        m_thread = std::make_unique<ServerThread<CHWebServer>>(m_server);
        ASSERT_TRUE(m_thread->Listening());
        m_port = m_thread->Port();
    }
    void TearDown() override {
        m_thread.reset();
        ClearAccessPoints();
    }

    TempDir m_dir{"vellumo-net"};
    CHWebServer m_server{0};
    std::unique_ptr<ServerThread<CHWebServer>> m_thread;
    int m_port = 0;
};

TEST_F(WebServerTest, MalformedRequestLinesGetAnEmptyOk) {
    for (const char* request :
         {"PUT /devices HTTP/1.1\r\n\r\n", "GET /devices HTTP/2.0\r\n\r\n", "GET /devices\r\n\r\n",
          "\r\n\r\n", "GARBAGE\r\n\r\n", "GET  /devices HTTP/1.1\r\n\r\n"}) {
        EXPECT_EQ(Exchange(m_port, request), kEmptyOkHead) << request;
        EXPECT_EQ(Exchange(m_port, request, "127.0.0.2"), kEmptyOkHead) << request;
    }
}

TEST_F(WebServerTest, RoutesGetExactHeadsAndRequestDetails) {
    std::string body = "devices:/devices/x:k%20y:127.0.0.1:";
    EXPECT_EQ(Get(m_port, "/devices/x?key=k%20y"), OkHead("text/html", body.size()) + body);
    body = "devices:/devices:a:127.0.0.1:payload";
    EXPECT_EQ(Exchange(m_port, "POST /devices?key=a HTTP/1.1\r\nContent-Length: 7\r\n\r\npayload"),
              OkHead("text/html", body.size()) + body);
    EXPECT_EQ(Get(m_port, "/image/5"),
              "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: 9\r\nContent-Type: "
              "image/jpeg\r\nFileName: IMG_1.JPG\r\nFileTime: 1388534400\r\nServer: "
              "Vellumo/1.2\r\n\r\njpegbytes");
    // Route keys are case-sensitive: /Album falls through to the (missing) static file.
    EXPECT_EQ(Get(m_port, "/Devices"), "");
    EXPECT_EQ(Get(m_port, "/echo/x"), "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: "
                                      "4\r\nContent-Type: text/html\r\nServer: Vellumo/1.2\r\n"
                                      "X-Ext: aWQ=\r\n\r\nhost");
    EXPECT_EQ(Get(m_port, "/odd?close"), "");
    EXPECT_EQ(Get(m_port, "/odd?status"), "");
    EXPECT_EQ(Get(m_port, "/odd?throw"), "");
    EXPECT_EQ(Get(m_port, "/odd"), OkHead("text/html", 3) + "odd");
}

TEST_F(WebServerTest, GateLetsLoopbackAndAuthorisedKeysIn) {
    FakeDBCenter db({"good"});
    PublishAccessPoints(nullptr, &db, nullptr, nullptr);
    const char* other = "127.0.0.2";
    EXPECT_EQ(Get(m_port, "/devices", other), kForbidden);
    EXPECT_EQ(Get(m_port, "/devices?key=bad", other), kForbidden);
    std::string body = "devices:/devices:good:127.0.0.2:";
    EXPECT_EQ(Get(m_port, "/devices?key=good", other), OkHead("text/html", body.size()) + body);
    // "/auth" needs a key, any key.
    EXPECT_EQ(Get(m_port, "/auth", other), kForbidden);
    EXPECT_EQ(Get(m_port, "/auth?key=", other), OkHead("text/html", 5) + "auth:");
    EXPECT_EQ(Get(m_port, "/auth/x?key=new", other), OkHead("text/html", 8) + "auth:new");
    // Open routes, unknown paths and static files.
    EXPECT_EQ(Get(m_port, "/echo", other).substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(Get(m_port, "/missing", other), kForbidden);
    EXPECT_EQ(Get(m_port, "/Devices?key=bad", other), kForbidden);
    EXPECT_EQ(Get(m_port, "/missing?key=good", other), "");
    // Loopback needs no key and does not ask the library.
    int calls = db.AuthorizedCalls();
    EXPECT_EQ(Get(m_port, "/devices").substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(db.AuthorizedCalls(), calls);

    ClearAccessPoints();
    EXPECT_EQ(Get(m_port, "/devices?key=good", other), kForbidden);
}

TEST(LoopbackHost, LoopbackAddressesAndLocalhostWithOrWithoutPort) {
    for (const char* host : {"127.0.0.1", "127.0.0.1:6639", "127.255.0.9:80", "localhost",
                             "LocalHost:1", "[::1]", "[::1]:6639"}) {
        EXPECT_TRUE(CHWebServer::IsLoopbackHost(host)) << host;
    }
    for (const char* host :
         {"", "pc", "evil.example:6639", "127.0.0.1.evil.example", "localhost.evil.example",
          "128.0.0.1", "127.0.0.256", "127.0.0", "127.0.0.1.", "127.0.0.1:x", "127.0.0.1:", "[::2]",
          "[::1", "localhost:6639:1", "0x7f.0.0.1", "127.0.0.1 :80"}) {
        EXPECT_FALSE(CHWebServer::IsLoopbackHost(host)) << host;
    }
}

// What a web page can make a browser on this PC send: the loopback pass needs a loopback Host,
// this service's own origin if any, and no cross-site fetch metadata.
TEST_F(WebServerTest, WebPagesFromElsewhereGetNoLoopbackPass) {
    FakeDBCenter db({"good"});
    PublishAccessPoints(nullptr, &db, nullptr, nullptr);
    const std::string own = "http://127.0.0.1:" + std::to_string(m_port);
    auto post = [this](const std::string& target, const std::string& headers) {
        return Exchange(m_port, "POST " + target + " HTTP/1.1\r\n" + headers +
                                    "Content-Length: 2\r\n\r\nab");
    };
    auto verdict = [this](const std::string& headers) {
        return m_server.OnHead("POST /devices HTTP/1.1\r\n" + headers + "\r\n", {"127.0.0.1", true})
            .body;
    };
    const std::vector<std::string> refused = {
        // A name rebound to 127.0.0.1 still arrives as its own name.
        "Host: rebind.example:" + std::to_string(m_port) + "\r\n",
        "Host: rebind.example\r\n",
        "Host: 127.0.0.1.rebind.example\r\n",
        // Origins of other pages, other ports on this PC included.
        "Origin: http://evil.example\r\n",
        "Origin: https://127.0.0.1.evil.example:6639\r\n",
        "Origin: http://localhost.evil.example\r\n",
        "Origin: null\r\n",
        "Origin: \r\n",
        "Origin: http://[::2]\r\n",
        "Origin: http://localhost:" + std::to_string(m_port + 1) + "\r\n",
        "Origin: http://127.0.0.1\r\n",
        "Origin: https://127.0.0.1:" + std::to_string(m_port) + "\r\n",
        // Image loads and links of other sites carry no Origin, only fetch metadata.
        "Sec-Fetch-Site: cross-site\r\n",
        "Sec-Fetch-Site: same-site\r\nHost: localhost:" + std::to_string(m_port) + "\r\n",
    };
    for (const std::string& headers : refused) {
        EXPECT_EQ(post("/devices", headers), kForbidden) << headers;
        EXPECT_EQ(verdict(headers), CHServer::HeadVerdict::Body::Answer) << headers;
    }
    // A paired key still passes from such a page.
    std::string body = "devices:/devices:good:127.0.0.1:ab";
    EXPECT_EQ(post("/devices?key=good", "Origin: http://evil.example\r\n"),
              OkHead("text/html", body.size()) + body);

    // Pages this service serves itself, and programs that send no browser headers, keep it.
    body = "devices:/devices::127.0.0.1:ab";
    for (const std::string& headers : std::vector<std::string>{
             "", "Host: 127.0.0.1\r\n", "Host: localhost:" + std::to_string(m_port) + "\r\n",
             "Origin: " + own + "\r\nSec-Fetch-Site: same-origin\r\n",
             "Origin: http://LOCALHOST:" + std::to_string(m_port) + "\r\n",
             "Sec-Fetch-Site: none\r\n"}) {
        EXPECT_EQ(post("/devices", headers), OkHead("text/html", body.size()) + body) << headers;
        EXPECT_EQ(verdict(headers), CHServer::HeadVerdict::Body::Keep) << headers;
    }
    // The pass belongs to loopback connections of this user only.
    EXPECT_EQ(m_server.OnHead("POST /devices HTTP/1.1\r\n\r\n", {"127.0.0.1", false}).body,
              CHServer::HeadVerdict::Body::Answer);
    EXPECT_EQ(m_server.OnHead("POST /devices HTTP/1.1\r\n\r\n", {"127.0.0.2", true}).body,
              CHServer::HeadVerdict::Body::Answer);
}

// Another account on this PC connects over loopback like the user's own programs; the socket
// table tells them apart.
TEST(WebServerOtherUser, LoopbackOfAnotherAccountNeedsAKey) {
    FakeDBCenter db({"good"});
    PublishAccessPoints(nullptr, &db, nullptr, nullptr);
    CHWebServer server(0);
    server.AddRoute("/devices",
                    [](const HttpRequest&, HttpResponse& response) { response.body = "library"; });
    std::atomic<int> lookups{0};
    std::atomic<uint16_t> serverPort{0};
    server.SetSocketOwnerLookup([&](uint32_t client, uint16_t, uint32_t, uint16_t port) {
        ++lookups;
        serverPort = port;
        EXPECT_EQ(client, 0x7F000001u);
        return int64_t{::geteuid()} + 1;
    });
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    EXPECT_EQ(Get(thread.Port(), "/devices"), kForbidden);
    EXPECT_EQ(Get(thread.Port(), "/devices?key=good"), OkHead("text/html", 7) + "library");
    EXPECT_EQ(serverPort.load(), thread.Port());
    // Only loopback connections are looked up.
    const int before = lookups.load();
    EXPECT_EQ(Get(thread.Port(), "/devices", "127.0.0.2"), kForbidden);
    EXPECT_EQ(lookups.load(), before);
    thread.Join();
    ClearAccessPoints();
}

TEST(SocketOwnerTable, FindsTheOwnerOfExactlyThatConnection) {
    const char* table =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
        "timeout inode\n"
        "   0: 0100007F:1F90 0100007F:D431 01 00000000:00000000 00:00000000 00000000  1000 "
        "       0 1 1 0000000000000000 20 4 30 10 -1\n"
        "   1: 0100007F:D431 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  1001 "
        "       0 2 1 0000000000000000 20 4 30 10 -1\n";
    EXPECT_EQ(TcpSocketOwnerFromTable(table, 0x7F000001, 0xD431, 0x7F000001, 0x1F90), 1001);
    EXPECT_EQ(TcpSocketOwnerFromTable(table, 0x7F000001, 0x1F90, 0x7F000001, 0xD431), 1000);
    EXPECT_EQ(TcpSocketOwnerFromTable(table, 0x7F000001, 0xD432, 0x7F000001, 0x1F90), -1);
    EXPECT_EQ(TcpSocketOwnerFromTable("", 1, 2, 3, 4), -1);
}

TEST(SocketOwnerTable, TheKernelKnowsOurOwnConnections) {
    CHWebServer server(0);
    ServerThread thread(server);
    ASSERT_TRUE(thread.Listening());
    TestConnection c(thread.Port());
    ASSERT_TRUE(c.Connected());
    sockaddr_in own{};
    socklen_t length = sizeof own;
    ASSERT_EQ(::getsockname(c.Fd(), reinterpret_cast<sockaddr*>(&own), &length), 0);
    EXPECT_EQ(TcpSocketOwner(0x7F000001, ntohs(own.sin_port), 0x7F000001,
                             static_cast<uint16_t>(thread.Port())),
              int64_t{::geteuid()});
    EXPECT_EQ(TcpSocketOwner(0x7F000001, ntohs(own.sin_port), 0x7F000001,
                             static_cast<uint16_t>(thread.Port() + 1)),
              -1);
}

// Head first, body a moment later, as a large upload arrives.
std::string PostInTwoParts(int port, const std::string& target, const std::string& body,
                           const char* from = nullptr) {
    TestConnection c(port, from);
    if (!c.Send("POST " + target + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\n\r\n")) {
        return "not sent";
    }
    std::this_thread::sleep_for(50ms);
    if (!c.Send(body)) {
        return "not sent";
    }
    return c.ReadAll(30s);
}

TEST_F(WebServerTest, OnlyThisPcAndPairedDevicesHaveTheirBodiesKept) {
    FakeDBCenter db({"good"});
    PublishAccessPoints(nullptr, &db, nullptr, nullptr);
    m_server.AddRoute("/auth", [](const HttpRequest& request, HttpResponse& response) {
        response.body = "auth:" + std::to_string(request.body.size());
    });
    const char* other = "127.0.0.2";
    const std::string body(1 << 20, 'x');
    const std::string kept = "auth:" + std::to_string(body.size());
    EXPECT_EQ(PostInTwoParts(m_port, "/auth?key=good", body, other),
              OkHead("text/html", 12) + kept);
    EXPECT_EQ(PostInTwoParts(m_port, "/auth", body), OkHead("text/html", 12) + kept);
    // A stranger passes the gate to "/auth" with any key, but nothing it sends is held.
    EXPECT_EQ(PostInTwoParts(m_port, "/auth?key=new", body, other),
              OkHead("text/html", 6) + "auth:0");
    // A caller the gate refuses hears so as soon as its head is in; its body is not awaited.
    TestConnection refused(m_port, other);
    ASSERT_TRUE(refused.Send("POST /devices?key=bad HTTP/1.1\r\nContent-Length: " +
                             std::to_string(256 << 20) + "\r\n\r\nabc"));
    EXPECT_EQ(refused.ReadAll(5s), kForbidden);

    using Body = CHServer::HeadVerdict::Body;
    const CHServer::Peer stranger{other, false};
    CHServer::HeadVerdict keyed =
        m_server.OnHead("POST /devices?key=good HTTP/1.1\r\n\r\n", stranger);
    EXPECT_EQ(keyed.body, Body::Keep);
    EXPECT_EQ(keyed.owner, "good"); // charged to the device's share
    EXPECT_EQ(m_server.OnHead("POST /devices HTTP/1.1\r\n\r\n", {"127.0.0.1", true}).body,
              Body::Keep);
    for (const char* head : {"POST /auth?key=new HTTP/1.1\r\n\r\n", "POST /echo HTTP/1.1\r\n\r\n",
                             "PUT /devices?key=good HTTP/1.1\r\n\r\n"}) {
        EXPECT_EQ(m_server.OnHead(head, stranger).body, Body::Drop) << head;
    }
    // The gate's refusals are answered without waiting for the body.
    for (const char* head :
         {"POST /devices HTTP/1.1\r\n\r\n", "POST /devices?key=bad HTTP/1.1\r\n\r\n",
          "POST /auth HTTP/1.1\r\n\r\n", "POST /missing.html HTTP/1.1\r\n\r\n"}) {
        EXPECT_EQ(m_server.OnHead(head, stranger).body, Body::Answer) << head;
    }
    ClearAccessPoints();
    EXPECT_EQ(m_server.OnHead("POST /devices?key=good HTTP/1.1\r\n\r\n", stranger).body,
              Body::Answer);
}

class StaticFilesTest : public WebServerTest {
protected:
    void SetUp() override {
        fs::path pages = m_dir / "Pages";
        ASSERT_TRUE(WriteTestFile(pages / "style.css", "body{}"));
        ASSERT_TRUE(WriteTestFile(pages / "js" / "app.js", "var a;"));
        ASSERT_TRUE(WriteTestFile(pages / "logo.png", std::string("\x89PNG\0\x01", 6)));
        ASSERT_TRUE(WriteTestFile(pages / "p.jpg", "jpg"));
        ASSERT_TRUE(WriteTestFile(pages / "index.html", "<html>"));
        ASSERT_TRUE(WriteTestFile(pages / "UP.CSS", "up"));
        ASSERT_TRUE(WriteTestFile(pages / "%2e%2e" / "literal.txt", "literal"));
        ASSERT_TRUE(WriteTestFile(m_dir / "secret.txt", "secret"));
        ASSERT_TRUE(WriteTestFile(m_dir / "PagesX" / "secret.txt", "sibling"));
        fs::create_symlink(m_dir / "secret.txt", pages / "out.css");
        fs::create_symlink(m_dir.Path(), pages / "up");
        fs::create_symlink(pages / "style.css", pages / "in.css");
        fs::create_symlink("/etc", pages / "etc");
        WebServerTest::SetUp();
    }
};

TEST_F(StaticFilesTest, ServesRegularFilesInsidePagesWithTheirTypes) {
    EXPECT_EQ(Get(m_port, "/style.css"), OkHead("text/css", 6) + "body{}");
    EXPECT_EQ(Get(m_port, "/js/app.js?v=2"), OkHead("application/javascript", 6) + "var a;");
    EXPECT_EQ(Get(m_port, "/logo.png"), OkHead("image/png", 6) + std::string("\x89PNG\0\x01", 6));
    EXPECT_EQ(Get(m_port, "/p.jpg"), OkHead("image/jpeg", 3) + "jpg");
    EXPECT_EQ(Get(m_port, "/index.html"), OkHead("text/html", 6) + "<html>");
    EXPECT_EQ(Get(m_port, "/UP.CSS"), OkHead("text/html", 2) + "up");
    EXPECT_EQ(Get(m_port, "/in.css"), OkHead("text/css", 6) + "body{}");
    EXPECT_EQ(Get(m_port, "/js/../style.css"), OkHead("text/css", 6) + "body{}");
    EXPECT_EQ(Get(m_port, "/%2e%2e/literal.txt"), OkHead("text/html", 7) + "literal");
}

TEST_F(StaticFilesTest, RefusesEverythingOutsideFoldersAndMissingFiles) {
    for (const char* target :
         {"/", "/js", "/js/", "/missing.css", "/STYLE.CSS", "/../secret.txt",
          "/js/../../secret.txt", "/%2e%2e/secret.txt", "/..%2fsecret.txt", "/out.css",
          "/up/secret.txt", "/etc/passwd", "/etc/hostname", "X/secret.txt", "/../PagesX/secret.txt",
          "//etc/passwd", "http://pc/style.css", "/..", "/."}) {
        EXPECT_EQ(Get(m_port, target), "") << target;
    }
    // The Pages folder itself missing.
    m_server.SetPagesFolder(m_dir / "Nowhere");
    EXPECT_EQ(Get(m_port, "/style.css"), "");
    // A Pages folder reached through a link still serves what lies inside it.
    fs::create_symlink(m_dir / "Pages", m_dir / "PagesLink");
    m_server.SetPagesFolder(m_dir / "PagesLink");
    EXPECT_EQ(Get(m_port, "/style.css"), OkHead("text/css", 6) + "body{}");
    EXPECT_EQ(Get(m_port, "/out.css"), "");
}

} // namespace
