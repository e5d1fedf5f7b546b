#pragma once
// Where both programs ask for updates. The built-in server is a build setting
// (-DVELLUMO_UPDATE_SERVER=host[:port]), empty by default, which means off: no request and no
// name lookup at all. $VELLUMO_UPDATE_SERVER ("host:port", "host" for port 80, or "off")
// overrides it at run time; Vellumo passes the server it used on to Fernlift the same way.

#include <string>

inline constexpr const char* kUpdateServerVariable = "VELLUMO_UPDATE_SERVER";

struct UpdateServer {
    std::string host; // empty: off
    int port = 80;

    bool IsOff() const { return host.empty(); }
    // "host:port", or "off": the value that hands this server on through the environment.
    std::string ToSetting() const;
    // The Host header: the host, with ":port" unless the port is 80.
    std::string HostHeader() const;
};

// Parses "host", "host:port" or "off" (any case) / "" (off). A host must be a name or a dotted IPv4
// address without blanks or control characters, a port 1-65535; anything else is off.
UpdateServer ParseUpdateServer(const std::string& setting);
// $VELLUMO_UPDATE_SERVER when set (even to "off"), else the build setting.
UpdateServer CurrentUpdateServer();
