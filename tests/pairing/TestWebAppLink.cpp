#include "pairing/WebAppLink.h"

#include <gtest/gtest.h>

TEST(WebAppLink, AddressFromTheCurrentAddressAndPort) {
    EXPECT_EQ(WebAppAddress("192.0.2.20", 6639), "http://192.0.2.20:6639/app");
    EXPECT_EQ(WebAppAddress("203.0.113.5", 8080), "http://203.0.113.5:8080/app");
    // No address or a port no phone can reach: no link at all.
    for (const char* ip : {"", "192.0.2", "192.0.2.300", "pc.lan", "::1", " 203.0.113.5"}) {
        EXPECT_EQ(WebAppAddress(ip, 6639), "") << ip;
        EXPECT_EQ(WebAppPairingLink(ip, 6639, "123456"), "") << ip;
    }
    EXPECT_EQ(WebAppAddress("203.0.113.5", 0), "");
    EXPECT_EQ(WebAppAddress("203.0.113.5", 65536), "");
}

TEST(WebAppLink, PairingLinkCarriesThePasswordInTheFragment) {
    EXPECT_EQ(WebAppPairingLink("192.0.2.20", 6639, "042917"),
              "http://192.0.2.20:6639/app#pair=042917");
    // Everything that could end the fragment's value or change its meaning is escaped, bytes of
    // UTF-8 one by one.
    EXPECT_EQ(WebAppPairingLink("203.0.113.5", 6639, "tulip 7&x=#%+"),
              "http://203.0.113.5:6639/app#pair=tulip%207%26x%3D%23%25%2B");
    EXPECT_EQ(WebAppPairingLink("203.0.113.5", 6639, "密"),
              "http://203.0.113.5:6639/app#pair=%E5%AF%86");
    EXPECT_EQ(WebAppPairingLink("203.0.113.5", 6639, ""), "http://203.0.113.5:6639/app");
}
