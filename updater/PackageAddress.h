#pragma once
// Parsing of the package address from the update server's answer.

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
