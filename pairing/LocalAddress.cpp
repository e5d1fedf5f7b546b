#include "pairing/LocalAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace {

bool HasDevice(const char* name) {
    std::string path = std::string("/sys/class/net/") + name + "/device";
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

std::vector<AdapterAddress> ListAdapterAddresses() {
    std::vector<AdapterAddress> list;
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) {
        return list;
    }
    for (ifaddrs* it = all; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET ||
            it->ifa_name == nullptr) {
            continue;
        }
        AdapterAddress entry;
        entry.name = it->ifa_name;
        sockaddr_in in{};
        std::memcpy(&in, it->ifa_addr, sizeof(in));
        entry.address = ntohl(in.sin_addr.s_addr);
        entry.up = (it->ifa_flags & IFF_UP) != 0;
        entry.running = (it->ifa_flags & IFF_RUNNING) != 0;
        entry.loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
        entry.physical = !entry.loopback && HasDevice(it->ifa_name);
        list.push_back(std::move(entry));
    }
    ::freeifaddrs(all);
    return list;
}

std::vector<uint32_t> ResolveHostAddresses() {
    std::vector<uint32_t> list;
    char name[512] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') {
        return list;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0) {
        return list;
    }
    for (addrinfo* it = found; it != nullptr; it = it->ai_next) {
        if (it->ai_family == AF_INET && it->ai_addr != nullptr) {
            sockaddr_in in{};
            std::memcpy(&in, it->ai_addr, sizeof(in));
            list.push_back(ntohl(in.sin_addr.s_addr));
        }
    }
    ::freeaddrinfo(found);
    return list;
}

std::string FormatIPv4(uint32_t address) {
    in_addr in{};
    in.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &in, text, sizeof(text)) == nullptr) {
        return {};
    }
    return text;
}

bool IsUsableAddress(uint32_t address) {
    return address != 0 && (address >> 24) != 127 && (address >> 16) != 0xA9FE;
}

std::string ChooseLocalIP(const std::vector<AdapterAddress>& adapters,
                          const std::function<std::vector<uint32_t>()>& hostAddresses) {
    auto first = [&](auto accept) -> std::string {
        for (const AdapterAddress& a : adapters) {
            if (!a.loopback && IsUsableAddress(a.address) && accept(a)) {
                return FormatIPv4(a.address);
            }
        }
        return {};
    };
    std::string ip = first([](const AdapterAddress& a) { return a.physical && a.up && a.running; });
    if (!ip.empty()) {
        return ip;
    }
    // Debian-style systems map the host name to 127.0.1.1, which the usable test rejects.
    if (hostAddresses) {
        for (uint32_t address : hostAddresses()) {
            if (IsUsableAddress(address)) {
                return FormatIPv4(address);
            }
        }
    }
    // Virtual machines and containers may have no device-backed adapter at all.
    ip = first([](const AdapterAddress& a) { return a.up && a.running; });
    if (!ip.empty()) {
        return ip;
    }
    return first([](const AdapterAddress& a) { return a.up; });
}

std::string GetLocalIP() {
    return ChooseLocalIP(ListAdapterAddresses(), &ResolveHostAddresses);
}
