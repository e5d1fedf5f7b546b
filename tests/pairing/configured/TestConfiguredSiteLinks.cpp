// Built with every site address configured (see tests/CMakeLists.txt): a configured address is
// used exactly as written, whatever the PC's own address and port.

#include "pairing/SiteLinks.h"

#include <gtest/gtest.h>

TEST(ConfiguredSiteLinks, AConfiguredAddressIsReturnedExactly) {
    for (const std::string& ip : {std::string("192.0.2.7"), std::string()}) {
        for (int port : {6639, 0}) {
            EXPECT_EQ(SiteAddress(SiteLink::ProductSite, ip, port),
                      "https://site.example/v?a=1&b=2");
            EXPECT_EQ(SiteAddress(SiteLink::UsagePage, ip, port), "https://site.example/help/use");
            EXPECT_EQ(SiteAddress(SiteLink::AppStore, ip, port), "https://store.example/app");
            // The wizard's form of the store page carries one more "/".
            EXPECT_EQ(SiteAddress(SiteLink::AppStoreWizard, ip, port),
                      "https://store.example/app/");
        }
    }
}
