// Which update server the programs ask: a wrong reading would send the usage report somewhere
// nobody chose, or make "off" ask anyway.

#include "httpclient/UpdateServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

TEST(UpdateServer, SettingsAreReadStrictlyAndAnythingOddIsOff) {
    struct Case {
        std::string setting;
        std::string host;
        int port;
    };
    const std::vector<Case> cases = {
        {"updates.example.org", "updates.example.org", 80},
        {"updates.example.org:8080", "updates.example.org", 8080},
        {"127.0.0.1:65535", "127.0.0.1", 65535},
        {"off", "", 80},
        {"", "", 80},
        {"host:0", "", 80},
        {"host:65536", "", 80},
        {"host:", "", 80},
        {":80", "", 80},
        {"host:8o", "", 80},
        {"http://host", "", 80},
        {"host/path", "", 80},
        {"a b", "", 80},
        {"host\r\nX: y", "", 80},
        {"[::1]:80", "", 80},
        {"OFF", "", 80},
        {"Off", "", 80},
    };
    for (const Case& c : cases) {
        UpdateServer server = ParseUpdateServer(c.setting);
        EXPECT_EQ(server.host, c.host) << c.setting;
        EXPECT_EQ(server.port, c.port) << c.setting;
        EXPECT_EQ(server.IsOff(), c.host.empty()) << c.setting;
    }
    EXPECT_EQ(ParseUpdateServer("u.test").HostHeader(), "u.test");
    EXPECT_EQ(ParseUpdateServer("u.test:8080").HostHeader(), "u.test:8080");
    // What is handed on to the updater reads back the same.
    EXPECT_EQ(ParseUpdateServer(ParseUpdateServer("u.test").ToSetting()).ToSetting(), "u.test:80");
    EXPECT_EQ(ParseUpdateServer("").ToSetting(), "off");
}

TEST(UpdateServer, TheEnvironmentOverridesTheBuiltInSetting) {
    setenv(kUpdateServerVariable, "127.0.0.1:9", 1);
    EXPECT_EQ(CurrentUpdateServer().ToSetting(), "127.0.0.1:9");
    setenv(kUpdateServerVariable, "off", 1);
    EXPECT_TRUE(CurrentUpdateServer().IsOff());
    // The default build names no server: unset means off.
    unsetenv(kUpdateServerVariable);
    EXPECT_TRUE(CurrentUpdateServer().IsOff());
    setenv(kUpdateServerVariable, "off", 1);
}
