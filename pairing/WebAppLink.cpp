#include "pairing/WebAppLink.h"

#include <arpa/inet.h>

namespace {

bool IsDottedIPv4(const std::string& ip) {
    in_addr parsed{};
    return inet_pton(AF_INET, ip.c_str(), &parsed) == 1;
}

std::string PercentEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

} // namespace

std::string WebAppAddress(const std::string& ip, int port) {
    if (!IsDottedIPv4(ip) || port < 1 || port > 65535) {
        return {};
    }
    return "http://" + ip + ":" + std::to_string(port) + "/app";
}

std::string WebAppPairingLink(const std::string& ip, int port, const std::string& password) {
    std::string address = WebAppAddress(ip, port);
    if (address.empty() || password.empty()) {
        return address;
    }
    return address + "#pair=" + PercentEncode(password);
}
