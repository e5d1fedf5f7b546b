#include "pairing/LocalAddress.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>
#include <vector>

namespace {

uint32_t Ip(const char* text) {
    in_addr in{};
    EXPECT_EQ(::inet_pton(AF_INET, text, &in), 1) << text;
    return ntohl(in.s_addr);
}

AdapterAddress Adapter(const char* name, const char* ip, bool physical, bool running = true) {
    AdapterAddress a;
    a.name = name;
    a.address = Ip(ip);
    a.up = true;
    a.running = running;
    a.loopback = std::string(name) == "lo";
    a.physical = physical;
    return a;
}

std::function<std::vector<uint32_t>()> Hosts(std::vector<uint32_t> list, int* calls = nullptr) {
    return [list, calls] {
        if (calls != nullptr) {
            ++*calls;
        }
        return list;
    };
}

} // namespace

TEST(LocalAddress, PhysicalAdapterWinsInListOrder) {
    int calls = 0;
    std::vector<AdapterAddress> list = {
        Adapter("lo", "127.0.0.1", false),
        Adapter("docker0", "172.17.0.1", false),
        Adapter("eth0", "192.168.1.20", true),
        Adapter("wlan0", "192.168.1.21", true),
    };
    EXPECT_EQ(ChooseLocalIP(list, Hosts({Ip("10.9.9.9")}, &calls)), "192.168.1.20");
    EXPECT_EQ(calls, 0); // no name look-up when an adapter qualifies
}

TEST(LocalAddress, LoopbackLinkLocalAndDisconnectedAdaptersAreSkipped) {
    std::vector<AdapterAddress> list = {
        Adapter("lo", "127.0.0.1", false),
        Adapter("eth0", "169.254.10.3", true),
        Adapter("eth1", "10.0.0.5", true, false), // no carrier
        Adapter("wlan0", "192.168.0.7", true),
    };
    EXPECT_EQ(ChooseLocalIP(list, Hosts({})), "192.168.0.7");

    list.pop_back();
    // The host name maps to 127.0.1.1 first on many systems; that is no answer either.
    EXPECT_EQ(ChooseLocalIP(list, Hosts({Ip("127.0.1.1"), Ip("169.254.1.1"), Ip("192.168.5.5")})),
              "192.168.5.5");
}

TEST(LocalAddress, FallsBackToVirtualAdaptersThenNothing) {
    std::vector<AdapterAddress> list = {
        Adapter("lo", "127.0.0.1", false), Adapter("docker0", "172.17.0.1", false, false),
        Adapter("eth0", "172.18.0.2", false), // a container's or VM's virtual adapter
    };
    EXPECT_EQ(ChooseLocalIP(list, Hosts({Ip("127.0.1.1")})), "172.18.0.2");
    list.pop_back();
    EXPECT_EQ(ChooseLocalIP(list, Hosts({})), "172.17.0.1");
    list.back().up = false;
    EXPECT_EQ(ChooseLocalIP(list, Hosts({Ip("127.0.1.1")})), "");
    EXPECT_EQ(ChooseLocalIP({}, nullptr), "");
}

TEST(LocalAddress, UsableAddressesAndFormatting) {
    EXPECT_FALSE(IsUsableAddress(0));
    EXPECT_FALSE(IsUsableAddress(Ip("127.255.0.1")));
    EXPECT_FALSE(IsUsableAddress(Ip("169.254.0.1")));
    EXPECT_TRUE(IsUsableAddress(Ip("169.253.0.1")));
    EXPECT_TRUE(IsUsableAddress(Ip("128.0.0.1")));
    EXPECT_EQ(FormatIPv4(Ip("192.168.100.254")), "192.168.100.254");
}

TEST(LocalAddress, CurrentAddressIsAUsableDottedQuad) {
    std::string ip = GetLocalIP();
    if (ip.empty()) {
        GTEST_SKIP() << "this machine has no usable IPv4 address";
    }
    in_addr in{};
    ASSERT_EQ(::inet_pton(AF_INET, ip.c_str(), &in), 1) << ip;
    EXPECT_TRUE(IsUsableAddress(ntohl(in.s_addr))) << ip;
}
