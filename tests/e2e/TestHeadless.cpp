#include "media/JsonText.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestProcess.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <regex>
#include <string>

namespace {

constexpr const char* kReady = "Stop with Ctrl+C or SIGTERM.";

size_t CountOf(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

} // namespace

TEST(Headless, PrintsRootAddressPasswordPayloadAndQrThenStopsAndRestartsTheSame) {
    TempDir dir("vellumo-e2e");
    VellumoProcess vellumo(VellumoBinaryPath(), dir.Path());
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(vellumo.Start({"--headless"}));
    ASSERT_TRUE(vellumo.WaitForOutput(kReady)) << vellumo.Output() << vellumo.ErrorOutput();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));

    EXPECT_EQ(vellumo.OutputValue("storage root"), vellumo.DefaultRoot().string());
    EXPECT_NE(vellumo.OutputValue("address").find("port " + std::to_string(vellumo.Port())),
              std::string::npos);
    std::string password = vellumo.OutputValue("pairing password");
    EXPECT_TRUE(std::regex_match(password, std::regex("[0-9]{8}"))) << password;

    // The payload line carries exactly what the QR code encodes: the JSON text of the phone.
    std::string payload = vellumo.OutputValue("pairing payload");
    Json::Value document;
    ASSERT_TRUE(JsonParse(payload, document)) << payload;
    EXPECT_EQ(document["passwd"].asString(), password);
    EXPECT_EQ(document["port"].asInt64(), vellumo.Port());
    EXPECT_EQ(document["host"].asString(), "pc");
    EXPECT_EQ(document["version"].asString(), "1.2");
    EXPECT_EQ(document["id"].asString().size(), 32u);
    std::string output = vellumo.Output();
    size_t qrStart = output.find('\n', output.find("pairing payload: ")) + 1;
    std::string qr = output.substr(qrStart, output.find("web app: ") - qrStart);
    EXPECT_GE(CountOf(qr, "\n"), 15u);
    EXPECT_GT(CountOf(qr, "\u2588") + CountOf(qr, "\u2580") + CountOf(qr, "\u2584"), 100u);

    // Under it, the browser app's address and a second code that also pairs.
    std::string address = vellumo.OutputValue("address");
    std::string ip = address.substr(0, address.find(' '));
    if (std::regex_match(ip, std::regex("[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+"))) {
        std::string app = "http://" + ip + ":" + std::to_string(vellumo.Port()) + "/app";
        EXPECT_EQ(vellumo.OutputValue("web app"), app);
        EXPECT_EQ(vellumo.OutputValue("web app pairing link"), app + "#pair=" + password);
        size_t webStart = output.find('\n', output.find("web app pairing link: ")) + 1;
        std::string webQr = output.substr(webStart, output.find(kReady) - webStart);
        EXPECT_GE(CountOf(webQr, "\n"), 15u);
        EXPECT_NE(webQr, qr);
    } else {
        EXPECT_EQ(vellumo.OutputValue("web app"), "(no network address found)");
    }

    // The first run recorded its storage folder, so the next start is not a first run.
    EXPECT_TRUE(fs::exists(vellumo.PointerFile()));
    EXPECT_TRUE(fs::is_regular_file(vellumo.DefaultRoot() / "Vellumo.cfg"));
    EXPECT_TRUE(fs::is_directory(vellumo.DefaultRoot() / "Repos"));
    HttpReply reply = HttpRequest("127.0.0.2", vellumo.Port(), "GET", "/devices");
    EXPECT_TRUE(reply.received);
    EXPECT_EQ(reply.status, 403);

    EXPECT_EQ(vellumo.Stop(SIGTERM), 0) << vellumo.ErrorOutput();
    EXPECT_NE(vellumo.Output().find("Vellumo stopped."), std::string::npos);
    EXPECT_EQ(vellumo.ErrorOutput().find("ERROR"), std::string::npos) << vellumo.ErrorOutput();

    ASSERT_TRUE(vellumo.Start({"--headless"}));
    ASSERT_TRUE(vellumo.WaitForOutput(kReady)) << vellumo.ErrorOutput();
    EXPECT_EQ(vellumo.OutputValue("pairing password"), password);
    EXPECT_EQ(vellumo.OutputValue("storage root"), vellumo.DefaultRoot().string());
    EXPECT_EQ(vellumo.Stop(SIGINT), 0) << vellumo.ErrorOutput();
}

TEST(Headless, ASecondStartSaysOneIsRunningAndLeavesIt) {
    TempDir dir("vellumo-e2e");
    VellumoProcess vellumo(VellumoBinaryPath(), dir.Path());
    ASSERT_TRUE(vellumo.Start({})); // no display in the sandbox: headless by itself
    ASSERT_TRUE(vellumo.WaitForOutput(kReady)) << vellumo.ErrorOutput();
    pid_t first = vellumo.Pid();

    VellumoProcess second(VellumoBinaryPath(), dir.Path(), vellumo.Port());
    EXPECT_EQ(second.RunToEnd({"--headless"}, 20000), 0);
    EXPECT_NE(second.ErrorOutput().find("already running (pid " + std::to_string(first) + ")"),
              std::string::npos)
        << second.ErrorOutput();
    EXPECT_TRUE(vellumo.WaitForOutput("asked for the window", 5000));
    EXPECT_TRUE(vellumo.IsRunning());
    EXPECT_EQ(vellumo.Stop(SIGTERM), 0);
}

TEST(Headless, SettingsChangeFromTheShellOnlyWhileStopped) {
    TempDir dir("vellumo-e2e");
    VellumoProcess vellumo(VellumoBinaryPath(), dir.Path());
    EXPECT_EQ(vellumo.RunToEnd({"--help"}), 0);
    EXPECT_NE(vellumo.Output().find("--set-root DIR"), std::string::npos);

    EXPECT_EQ(vellumo.RunToEnd({"--set-password", ""}), 2);
    EXPECT_EQ(vellumo.RunToEnd({"--set-password", std::string(21, 'x')}), 2);
    EXPECT_EQ(vellumo.RunToEnd({"--set-password"}), 2);
    EXPECT_EQ(vellumo.RunToEnd({"--set-password", "tulip 7"}), 0) << vellumo.ErrorOutput();

    ASSERT_TRUE(vellumo.Start({"--headless"}));
    ASSERT_TRUE(vellumo.WaitForOutput(kReady)) << vellumo.ErrorOutput();
    EXPECT_EQ(vellumo.OutputValue("pairing password"), "tulip 7");
    EXPECT_NE(vellumo.OutputValue("pairing payload").find("\"passwd\":\"tulip 7\""),
              std::string::npos);
    EXPECT_EQ(vellumo.RunToEnd({"--set-password", "other"}), 1);
    EXPECT_NE(vellumo.ErrorOutput().find("stop it before"), std::string::npos);
    EXPECT_EQ(vellumo.Stop(SIGTERM), 0);

    fs::path newRoot = dir / "elsewhere" / "photos";
    EXPECT_EQ(vellumo.RunToEnd({"--set-root", (vellumo.DefaultRoot() / "Repos").string()}), 1);
    EXPECT_EQ(vellumo.RunToEnd({"--set-root", newRoot.string()}), 0) << vellumo.ErrorOutput();
    EXPECT_FALSE(fs::exists(vellumo.DefaultRoot() / "Vellumo.cfg"));
    EXPECT_TRUE(fs::is_regular_file(newRoot / "Vellumo.cfg"));

    ASSERT_TRUE(vellumo.Start({"--headless"}));
    ASSERT_TRUE(vellumo.WaitForOutput(kReady)) << vellumo.ErrorOutput();
    EXPECT_EQ(vellumo.OutputValue("storage root"), newRoot.string());
    EXPECT_EQ(vellumo.OutputValue("pairing password"), "tulip 7");
    EXPECT_EQ(vellumo.Stop(SIGTERM), 0);

    // A library carried from elsewhere (another user's sandbox made it): refused as a move
    // target, used as it is with --adopt.
    VellumoProcess other(VellumoBinaryPath(), dir / "other");
    ASSERT_EQ(other.RunToEnd({"--set-password", "carried 1"}), 0) << other.ErrorOutput();
    fs::path carried = other.DefaultRoot();
    ASSERT_TRUE(fs::is_regular_file(carried / "Vellumo.cfg"));
    EXPECT_EQ(vellumo.RunToEnd({"--set-root", carried.string()}), 1);
    EXPECT_NE(vellumo.ErrorOutput().find("--adopt"), std::string::npos) << vellumo.ErrorOutput();
    EXPECT_EQ(vellumo.RunToEnd({"--set-root", carried.string(), "--adopt"}), 0)
        << vellumo.ErrorOutput();
    EXPECT_TRUE(fs::is_regular_file(newRoot / "Vellumo.cfg"));
    ASSERT_TRUE(vellumo.Start({"--headless"}));
    ASSERT_TRUE(vellumo.WaitForOutput(kReady)) << vellumo.ErrorOutput();
    EXPECT_EQ(vellumo.OutputValue("storage root"), carried.string());
    EXPECT_EQ(vellumo.OutputValue("pairing password"), "carried 1");
    EXPECT_EQ(vellumo.Stop(SIGTERM), 0);
}

TEST(Headless, APortInUseEndsTheStartWithAMessage) {
    TempDir dir("vellumo-e2e");
    VellumoProcess first(VellumoBinaryPath(), dir / "a");
    ASSERT_TRUE(first.Start({"--headless"}));
    ASSERT_TRUE(first.WaitForOutput(kReady)) << first.ErrorOutput();
    // Another user's sandbox, the same port.
    VellumoProcess second(VellumoBinaryPath(), dir / "b", first.Port());
    EXPECT_EQ(second.RunToEnd({"--headless"}), 1);
    EXPECT_NE(second.ErrorOutput().find("not listening"), std::string::npos)
        << second.ErrorOutput();
    EXPECT_EQ(first.Stop(SIGTERM), 0);
}
