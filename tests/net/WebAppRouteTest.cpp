// The browser app's open route: "/app" and the files of "Pages/app" reach every caller without
// a key, with their types and the page policy; nothing else gets past the gate that way.

#include "FakeDBCenter.h"
#include "NetClient.h"
#include "net/CHWebServer.h"
#include "net/WebAppFiles.h"
#include "shell/AccessPoints.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

namespace {

constexpr char kStranger[] = "127.0.0.2";
constexpr char kForbidden[] = "HTTP/1.1 403 Forbidden\r\nConnection: Close\r\nContent-Length: "
                              "19\r\nContent-Type: text/html\r\nServer: Vellumo/1.2\r\n\r\n"
                              "{\"Status\":\"failed\"}";

std::string AppHead(const std::string& type, size_t length) {
    return "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\nConnection: Close\r\n"
           "Content-Length: " +
           std::to_string(length) + "\r\nContent-Security-Policy: " + kWebAppPolicy +
           "\r\nContent-Type: " + type +
           "\r\nReferrer-Policy: no-referrer\r\nServer: Vellumo/1.2\r\n"
           "X-Content-Type-Options: nosniff\r\n\r\n";
}

class WebAppRouteTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::path pages = m_dir / "Pages";
        fs::path app = pages / "app";
        ASSERT_TRUE(WriteTestFile(app / "index.html", "<!doctype html>"));
        ASSERT_TRUE(WriteTestFile(app / "app.js", "run();"));
        ASSERT_TRUE(WriteTestFile(app / "app.css", "b{}"));
        ASSERT_TRUE(WriteTestFile(app / "icon.svg", "<svg/>"));
        ASSERT_TRUE(WriteTestFile(app / "notes.txt", "<b>x</b>"));
        ASSERT_TRUE(WriteTestFile(app / "sub" / "deep.js", "deep;"));
        ASSERT_TRUE(WriteTestFile(pages / "secret.css", "pages-only"));
        ASSERT_TRUE(WriteTestFile(pages / "appx" / "x.css", "sibling"));
        ASSERT_TRUE(WriteTestFile(m_dir / "outside.txt", "outside"));
        fs::create_symlink(pages / "secret.css", app / "link.css");
        fs::create_symlink(pages.string(), app / "up");
        fs::create_symlink(app / "app.css", app / "inner.css");

        m_server.AddRoute("/devices", [](const HttpRequest&, HttpResponse& response) {
            response.body = "devices";
        });
        m_server.SetPagesFolder(pages);
        PublishAccessPoints(nullptr, &m_db, nullptr, nullptr);
        m_thread = std::make_unique<ServerThread<CHWebServer>>(m_server);
        ASSERT_TRUE(m_thread->Listening());
        m_port = m_thread->Port();
    }
    void TearDown() override {
        m_thread.reset();
        ClearAccessPoints();
    }

    std::string Get(const std::string& target, const char* from = kStranger) {
        return Exchange(m_port, "GET " + target + " HTTP/1.1\r\nHost: vellumo-pc.lan\r\n\r\n",
                        from);
    }

    TempDir m_dir{"vellumo-webapp"};
    FakeDBCenter m_db{{"paired"}};
    CHWebServer m_server{0};
    std::unique_ptr<ServerThread<CHWebServer>> m_thread;
    int m_port = 0;
};

TEST(WebAppFiles, RequestsThatBelongToTheApp) {
    EXPECT_TRUE(IsWebAppRequest("GET", "/app"));
    EXPECT_TRUE(IsWebAppRequest("GET", "/app/"));
    EXPECT_TRUE(IsWebAppRequest("GET", "/app/app.js"));
    EXPECT_TRUE(IsWebAppRequest("GET", "/app/../x"));
    for (const char* path : {"/apps", "/appx/x.css", "/App", "/ap", "", "/", "app/x"}) {
        EXPECT_FALSE(IsWebAppRequest("GET", path)) << path;
    }
    EXPECT_FALSE(IsWebAppRequest("POST", "/app"));
    EXPECT_FALSE(IsWebAppRequest("POST", "/app/app.js"));

    EXPECT_EQ(WebAppFilePath("/app"), "/index.html");
    EXPECT_EQ(WebAppFilePath("/app/"), "/index.html");
    EXPECT_EQ(WebAppFilePath("/app/sub/deep.js"), "/sub/deep.js");

    EXPECT_EQ(WebAppContentType("/index.html"), "text/html; charset=utf-8");
    EXPECT_EQ(WebAppContentType("/a.b/app.js"), "application/javascript; charset=utf-8");
    EXPECT_EQ(WebAppContentType("/x.css"), "text/css; charset=utf-8");
    EXPECT_EQ(WebAppContentType("/i.svg"), "image/svg+xml");
    // Unknown or missing extensions are never taken for a page.
    EXPECT_EQ(WebAppContentType("/notes.txt"), "application/octet-stream");
    EXPECT_EQ(WebAppContentType("/README"), "application/octet-stream");
    EXPECT_EQ(WebAppContentType("/x.JS"), "application/octet-stream");
}

TEST_F(WebAppRouteTest, EveryCallerGetsTheAppFilesWithoutAKey) {
    for (const char* from : {kStranger, static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(Get("/app", from), AppHead("text/html; charset=utf-8", 15) + "<!doctype html>");
        EXPECT_EQ(Get("/app/", from), AppHead("text/html; charset=utf-8", 15) + "<!doctype html>");
    }
    EXPECT_EQ(Get("/app/app.js?v=2"),
              AppHead("application/javascript; charset=utf-8", 6) + "run();");
    EXPECT_EQ(Get("/app/app.css"), AppHead("text/css; charset=utf-8", 3) + "b{}");
    EXPECT_EQ(Get("/app/icon.svg"), AppHead("image/svg+xml", 6) + "<svg/>");
    EXPECT_EQ(Get("/app/notes.txt"), AppHead("application/octet-stream", 8) + "<b>x</b>");
    EXPECT_EQ(Get("/app/sub/deep.js").substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(Get("/app/inner.css"), AppHead("text/css; charset=utf-8", 3) + "b{}");
    // A stranger's key plays no part.
    EXPECT_EQ(Get("/app/app.css?key=unknown"), AppHead("text/css; charset=utf-8", 3) + "b{}");
    EXPECT_EQ(m_db.AuthorizedCalls(), 0);
}

TEST_F(WebAppRouteTest, NothingOutsideTheAppFolderComesThroughTheOpenRoute) {
    // Traversal, links out of the folder, folders and missing files: closed without a word,
    // the same as for static files.
    for (const char* target :
         {"/app/../secret.css", "/app/sub/../../secret.css", "/app/%2e%2e/secret.css",
          "/app/..%2fsecret.css", "/app/link.css", "/app/up/secret.css", "/app/../../outside.txt",
          "/app/sub", "/app/sub/", "/app/missing.js", "/app//etc/passwd", "/app/.."}) {
        EXPECT_EQ(Get(target), "") << target;
    }
    // Everything else still meets the gate.
    for (const char* target : {"/secret.css", "/appx/x.css", "/apps", "/App", "/devices",
                               "/devices/app", "/?app", "/secret.css?x=/app"}) {
        EXPECT_EQ(Get(target), kForbidden) << target;
    }
    EXPECT_EQ(Exchange(m_port, "POST /app HTTP/1.1\r\nContent-Length: 0\r\n\r\n", kStranger),
              kForbidden);
    EXPECT_EQ(Exchange(m_port, "POST /app/app.js HTTP/1.1\r\nContent-Length: 0\r\n\r\n", kStranger),
              kForbidden);
    // With a paired key the other static files and routes answer as before, without the page
    // policy.
    std::string pages = Get("/secret.css?key=paired");
    EXPECT_EQ(pages.substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(pages.find("Content-Security-Policy"), std::string::npos);
    EXPECT_EQ(Get("/devices?key=paired").substr(0, 17), "HTTP/1.1 200 OK\r\n");
}

TEST_F(WebAppRouteTest, MissingAppFolderClosesTheConnection) {
    fs::remove_all(m_dir / "Pages" / "app");
    EXPECT_EQ(Get("/app"), "");
    EXPECT_EQ(Get("/app/app.js"), "");
    m_server.SetPagesFolder(m_dir / "Nowhere");
    EXPECT_EQ(Get("/app/"), "");
}

} // namespace
