#pragma once
// The PC's address on the local network, as the phone should reach it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One IPv4 address of a network interface, in the order the system lists them.
struct AdapterAddress {
    std::string name;
    uint32_t address = 0; // host byte order
    bool up = false;
    bool running = false; // carrier present
    bool loopback = false;
    bool physical = false; // backed by a device (/sys/class/net/<name>/device)
};

std::vector<AdapterAddress> ListAdapterAddresses();
// IPv4 addresses the host name resolves to, in resolver order.
std::vector<uint32_t> ResolveHostAddresses();

// Dotted decimal text of an address in host byte order.
std::string FormatIPv4(uint32_t address);
// True for addresses a phone could use: not 0.0.0.0, not loopback (127/8), not link-local
// (169.254/16).
bool IsUsableAddress(uint32_t address);

// The choice, in order: the first usable address of a physical adapter that is up with a
// carrier; the first usable address of the host name; the first usable address of any other
// adapter with a carrier; of any adapter that is up. Empty when there is none.
std::string ChooseLocalIP(const std::vector<AdapterAddress>& adapters,
                          const std::function<std::vector<uint32_t>()>& hostAddresses);

// The choice over the current interfaces; computed anew on every call.
std::string GetLocalIP();
