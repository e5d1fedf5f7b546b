// The real program, headless, against a scripted update server: it asks once at start, prints
// one line about the new version and never starts the updater; its version is the same
// everywhere it shows.

#include "tests/support/ScriptedServer.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestProcess.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>

TEST(HeadlessUpdate, AsksOnceAtStartAndPrintsOneLineAboutTheNewVersion) {
    TempDir dir("vellumo-e2e-update");
    ScriptedServer server(ScriptedServer::Reply(
        ScriptedServer::Answer("{\"update\" : 1, \"current_version\" : \"1.3\", "
                               "\"download_url\" : \"http://updates.test/vellumo-1.3.zip\"}")));
    VellumoProcess vellumo(VellumoBinaryPath(), dir.Path());
    vellumo.SetUpdateServer(server.Address());
    // An updater next to the program must not be started by a headless Vellumo: the sandbox
    // has none, and the line below is the only outcome.
    ASSERT_TRUE(vellumo.Start({"--headless"}));
    ASSERT_TRUE(vellumo.WaitForOutput("Stop with Ctrl+C or SIGTERM."));
    ASSERT_TRUE(server.WaitFinished(1));
    const std::string line = "更新: 发现新版 1.3，下载地址 http://updates.test/vellumo-1.3.zip\n";
    EXPECT_TRUE(WaitFor([&] { return vellumo.ErrorOutput().find(line) != std::string::npos; },
                        std::chrono::seconds(20)))
        << vellumo.ErrorOutput();
    std::string request = server.Requests().at(0);
    EXPECT_EQ(request.rfind("POST /check_update?version=1.2 HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_EQ(vellumo.Stop(SIGTERM), 0);
    EXPECT_EQ(server.Connections(), 1);

    // Changing a setting from a shell does not ask (it would use up the stored report).
    EXPECT_EQ(vellumo.RunToEnd({"--set-password", "654321"}), 0) << vellumo.ErrorOutput();
    EXPECT_EQ(server.Connections(), 1);

    // --version shows the version that was sent.
    EXPECT_EQ(vellumo.RunToEnd({"--version"}), 0);
    EXPECT_EQ(vellumo.Output(), "Vellumo 1.2\n");
}
