#include "httpclient/UpdateServer.h"

#include <strings.h>

#include <cstdlib>

#ifndef VELLUMO_BUILTIN_UPDATE_SERVER
#define VELLUMO_BUILTIN_UPDATE_SERVER ""
#endif

namespace {

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

} // namespace

std::string UpdateServer::ToSetting() const {
    return IsOff() ? std::string("off") : host + ":" + std::to_string(port);
}

std::string UpdateServer::HostHeader() const {
    return port == 80 ? host : host + ":" + std::to_string(port);
}

UpdateServer ParseUpdateServer(const std::string& setting) {
    UpdateServer off;
    if (setting.empty() || strcasecmp(setting.c_str(), "off") == 0) {
        return off;
    }
    UpdateServer server;
    std::string host = setting;
    size_t colon = setting.rfind(':');
    if (colon != std::string::npos) {
        host = setting.substr(0, colon);
        std::string port = setting.substr(colon + 1);
        if (port.empty() || port.size() > 5) {
            return off;
        }
        int value = 0;
        for (char c : port) {
            if (c < '0' || c > '9') {
                return off;
            }
            value = value * 10 + (c - '0');
        }
        if (value < 1 || value > 65535) {
            return off;
        }
        server.port = value;
    }
    if (host.empty() || host.size() > 253) {
        return off;
    }
    for (char c : host) {
        if (!IsHostCharacter(c)) {
            return off;
        }
    }
    server.host = host;
    return server;
}

UpdateServer CurrentUpdateServer() {
    const char* value = std::getenv(kUpdateServerVariable);
    return ParseUpdateServer(value != nullptr ? value : VELLUMO_BUILTIN_UPDATE_SERVER);
}
