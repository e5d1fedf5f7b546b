// The HTTP layer: request parsing, query and route rules, response heads, the gate, routes and
// static files.

#include "FakeDBCenter.h"
#include "NetClient.h"
#include "net/CHWebServer.h"
#include "shell/AccessPoints.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

constexpr char kEmptyOkHead[] = "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Type: "
                                "text/html\r\nServer: Vellumo/1.2\r\n\r\n";
constexpr char kForbidden[] = "HTTP/1.1 403 Forbidden\r\nConnection: Close\r\nContent-Length: "
                              "19\r\nContent-Type: text/html\r\nServer: Vellumo/1.2\r\n\r\n"
                              "{\"Status\":\"failed\"}";

std::string Get(int port, const std::string& target, const char* from = nullptr) {
    return Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: pc\r\n\r\n", from);
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

TEST_F(WebServerTest, WebPagesFromElsewhereGetNoLoopbackPass) {
    FakeDBCenter db({"good"});
    PublishAccessPoints(nullptr, &db, nullptr, nullptr);
    auto withOrigin = [this](const std::string& target, const std::string& origin) {
        return Exchange(m_port, "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1:6639\r\nOrigin: " +
                                    origin + "\r\nContent-Length: 2\r\n\r\nab");
    };
    for (const char* origin : {"http://evil.example", "https://127.0.0.1.evil.example:6639",
                               "http://localhost.evil.example", "null", "", "http://[::2]"}) {
        EXPECT_EQ(withOrigin("/devices", origin), kForbidden) << origin;
        EXPECT_FALSE(m_server.WantsBody(
            "POST /devices HTTP/1.1\r\nOrigin: " + std::string(origin) + "\r\n\r\n", "127.0.0.1"))
            << origin;
    }
    std::string body = "devices:/devices:good:127.0.0.1:ab";
    EXPECT_EQ(withOrigin("/devices?key=good", "http://evil.example"),
              OkHead("text/html", body.size()) + body);
    // Pages of this PC keep the pass.
    body = "devices:/devices::127.0.0.1:ab";
    for (const char* origin : {"http://127.0.0.1:6639", "http://LOCALHOST:6639", "http://localhost",
                               "http://[::1]:6639"}) {
        EXPECT_EQ(withOrigin("/devices", origin), OkHead("text/html", body.size()) + body)
            << origin;
    }
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
    EXPECT_EQ(PostInTwoParts(m_port, "/devices?key=bad", body, other), kForbidden);

    EXPECT_TRUE(m_server.WantsBody("POST /devices?key=good HTTP/1.1\r\n\r\n", other));
    EXPECT_TRUE(m_server.WantsBody("POST /devices HTTP/1.1\r\n\r\n", "127.0.0.1"));
    for (const char* head :
         {"POST /devices HTTP/1.1\r\n\r\n", "POST /devices?key=bad HTTP/1.1\r\n\r\n",
          "POST /auth?key=new HTTP/1.1\r\n\r\n", "POST /echo HTTP/1.1\r\n\r\n",
          "PUT /devices?key=good HTTP/1.1\r\n\r\n"}) {
        EXPECT_FALSE(m_server.WantsBody(head, other)) << head;
    }
    ClearAccessPoints();
    EXPECT_FALSE(m_server.WantsBody("POST /devices?key=good HTTP/1.1\r\n\r\n", other));
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
