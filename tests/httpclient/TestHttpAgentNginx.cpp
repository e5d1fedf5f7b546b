// CHttpAgent against a real web server on loopback: a large download checked by its digest,
// and a chunked answer.

#include "httpclient/CHttpAgent.h"

#include "media/CHMd5.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestNginx.h"

#include <gtest/gtest.h>

#include <random>

namespace {

class HttpAgentNginxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestNginx::Available()) {
            GTEST_SKIP() << "nginx-light is not installed (make deps-test installs it)";
        }
    }

    static std::string RandomBytes(size_t size, uint32_t seed) {
        std::mt19937 random(seed);
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        return bytes;
    }

    bool Get(CHttpAgent& agent, int port, const std::string& path) {
        return agent.Open("127.0.0.1", port, "GET", path, "HTTP/1.1") &&
               agent.SetHeader("Host", "localhost") && agent.SetHeader("Accept", "*/*") &&
               agent.SendHead() && agent.ReceiveHead();
    }

    TempDir m_dir{"httpagent-nginx"};
};

} // namespace

TEST_F(HttpAgentNginxTest, LargeDownloadArrivesWhole) {
    const std::string payload = RandomBytes(48 * 1024 * 1024 + 7, 11);
    ASSERT_TRUE(WriteTestFile(m_dir / "www" / "package.zip", payload));
    const std::string expected = Md5Text(payload.data(), payload.size());
    TestNginx nginx(m_dir / "nginx");
    ASSERT_TRUE(nginx.Start(m_dir / "www")) << nginx.ErrorLog();

    CHttpAgent agent;
    ASSERT_TRUE(agent.SetBlockSize(64 * 1024));
    ASSERT_TRUE(Get(agent, nginx.Port(), "/package.zip"));
    EXPECT_EQ(agent.GetStatusCode(), 200);
    ASSERT_EQ(agent.GetContentLength(), static_cast<int64_t>(payload.size()));
    int64_t lastReceived = 0;
    int lastPercent = -2;
    ASSERT_TRUE(agent.DownloadToFile(
        m_dir / "download.zip",
        [&](int percent, int, const char*, int, int64_t received, int64_t, void*) {
            lastPercent = percent;
            lastReceived = received;
            return 1;
        },
        nullptr));
    EXPECT_EQ(lastPercent, 100);
    EXPECT_EQ(lastReceived, static_cast<int64_t>(payload.size()));
    std::string digest;
    ASSERT_TRUE(Md5FileText((m_dir / "download.zip").string(), digest));
    EXPECT_EQ(digest, expected);

    // A missing file is an answer too: its status, and no download without a length match.
    ASSERT_TRUE(Get(agent, nginx.Port(), "/missing.zip"));
    EXPECT_EQ(agent.GetStatusCode(), 404);
}

TEST_F(HttpAgentNginxTest, ChunkedAnswerDecodes) {
    std::string text;
    for (int i = 0; text.size() < 3 * 1024 * 1024; ++i) {
        text += "line " + std::to_string(i) + " zzzz of a long chunked answer\n";
    }
    ASSERT_TRUE(WriteTestFile(m_dir / "www" / "chunked" / "long.txt", text));
    TestNginx nginx(m_dir / "nginx");
    ASSERT_TRUE(nginx.Start(m_dir / "www")) << nginx.ErrorLog();

    CHttpAgent agent;
    agent.SetBodyLimit(8 * 1024 * 1024);
    ASSERT_TRUE(Get(agent, nginx.Port(), "/chunked/long.txt"));
    EXPECT_EQ(agent.GetStatusCode(), 200);
    ASSERT_EQ(agent.GetHeader("Transfer-Encoding"), "chunked");
    EXPECT_EQ(agent.GetContentLength(), 0);
    std::string body;
    ASSERT_TRUE(agent.ReceiveBody(body));
    EXPECT_EQ(body.size(), text.size());
    EXPECT_TRUE(body == text);

    // The same answer over a smaller limit is refused.
    agent.SetBodyLimit(1024 * 1024);
    ASSERT_TRUE(Get(agent, nginx.Port(), "/chunked/long.txt"));
    EXPECT_FALSE(agent.ReceiveBody(body));
}
