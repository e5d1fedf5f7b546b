#pragma once
// Parsing of the addresses Fernlift talks to: the package address from the server's answer
// and the update-server setting.

#include <string>
#include <string_view>

struct HttpAddress {
    std::string host;
    int port = 80;
    std::string path = "/"; // always starts with '/', query included
};

// Parses "http://[user[:password]@]host[:port][/path]". The scheme is matched ignoring case;
// the user part is dropped (no credentials are sent); a port must be 1-65535. Refused (false):
// other schemes, an empty or malformed host, blanks, control characters, fragments.
bool ParseHttpAddress(std::string_view text, HttpAddress& out);

// The update server: $VELLUMO_UPDATE_SERVER as "host", "host:port" or "off", else the built-in
// host. False when it is off or unusable.
bool ReadUpdateServer(HttpAddress& out);
// The same rule on a given setting text (the built-in host is used when text is null).
bool ParseUpdateServer(const char* text, std::string_view builtIn, HttpAddress& out);
