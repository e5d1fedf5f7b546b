// The desktop's links and app codes lead, by default, to pages the running service itself
// serves: each must answer with an HTML page a phone browser can show.

#include "net/WebAppFiles.h"
#include "pairing/SiteLinks.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestProcess.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

constexpr const char* kReady = "Stop with Ctrl+C or SIGTERM.";

// The target ("/app/help.html") of an address on 127.0.0.1:port; empty when it is elsewhere.
std::string LocalTarget(const std::string& address, int port) {
    std::string prefix = "http://127.0.0.1:" + std::to_string(port);
    if (address.rfind(prefix, 0) != 0) {
        return {};
    }
    std::string target = address.substr(prefix.size());
    return target.empty() ? "/" : target;
}

} // namespace

TEST(SiteLinks, EveryDefaultAddressIsAnHtmlPageOfTheRunningService) {
    TempDir dir("vellumo-sitelinks");
    VellumoProcess vellumo(VellumoBinaryPath(), dir.Path());
    ASSERT_TRUE(vellumo.Start({"--headless"}));
    ASSERT_TRUE(vellumo.WaitForOutput(kReady)) << vellumo.ErrorOutput();

    for (SiteLink which : {SiteLink::ProductSite, SiteLink::UsagePage, SiteLink::AppStore,
                           SiteLink::AppStoreWizard}) {
        if (!ConfiguredSiteAddress(which).empty()) {
            continue; // this build leads elsewhere
        }
        std::string address = SiteAddress(which, "127.0.0.1", vellumo.Port());
        std::string target = LocalTarget(address, vellumo.Port());
        ASSERT_FALSE(target.empty()) << address;
        // A phone without a paired key is what follows these links.
        HttpReply reply = HttpRequest("127.0.0.2", vellumo.Port(), "GET", target);
        EXPECT_EQ(reply.status, 200) << address;
        EXPECT_EQ(reply.headers["content-type"], "text/html; charset=utf-8") << address;
        EXPECT_NE(reply.body.find("<html"), std::string::npos) << address;
    }
}

TEST(SiteLinks, TheHelpPageNeedsNothingTheAppsPolicyForbids) {
    TempDir dir("vellumo-sitelinks");
    VellumoProcess vellumo(VellumoBinaryPath(), dir.Path());
    ASSERT_TRUE(vellumo.Start({"--headless"}));
    ASSERT_TRUE(vellumo.WaitForOutput(kReady)) << vellumo.ErrorOutput();
    HttpReply reply = HttpRequest("127.0.0.2", vellumo.Port(), "GET", "/app/help.html");
    ASSERT_EQ(reply.status, 200);
    const std::string& page = reply.body;
    EXPECT_EQ(reply.headers["content-security-policy"], kWebAppPolicy);
    // The policy allows only the service's own files: no inline styles or scripts, no outside
    // addresses in anything the page loads or links to.
    EXPECT_EQ(page.find("<style"), std::string::npos);
    EXPECT_EQ(page.find("style="), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_FALSE(std::regex_search(page, std::regex(R"(\son[a-z]+=)"))) << "inline handler";
    std::regex reference(R"re((?:href|src)="([^"]*)")re");
    int references = 0;
    for (std::sregex_iterator it(page.begin(), page.end(), reference), end; it != end; ++it) {
        std::string target = (*it)[1].str();
        EXPECT_EQ(target.rfind("/app/", 0), 0u) << target;
        HttpReply file = HttpRequest("127.0.0.2", vellumo.Port(), "GET", target);
        EXPECT_EQ(file.status, 200) << target;
        ++references;
    }
    EXPECT_GE(references, 3); // icon, style sheet, the link to the backup page
    EXPECT_NE(page.find("扫一扫"), std::string::npos);
    EXPECT_NE(page.find("配对密码"), std::string::npos);
}
