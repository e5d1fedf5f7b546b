#pragma once
// The pairing payload: the short JSON text the phone scans to find and trust this PC.
//   {"ip":"%s", "port":6639, "passwd":"%s", "name":"%s", "id":"%s", "host":"pc", "version":"1.2"}
// The layout is fixed (the phone app matches it); values are JSON-escaped.

#include <string>
#include <string_view>

// The service port the phone should use: $VELLUMO_PORT when it is a decimal number 1-65535 (as
// the server reads it), else 6639.
int PairingPort();

// The computer's name from gethostname as UTF-8; "PC" when it cannot be read.
std::string GetHostNameText();

// Text escaped for the inside of a JSON string: quote, backslash and every control character.
std::string JsonEscapeText(std::string_view text);

// The payload with the pairing password of the published library (empty when no library is
// published) and the current local address.
std::string BuildPairingPayload();
// The payload with the given password and address; name and identity as above.
std::string BuildPairingPayload(const std::string& password, const std::string& ip);
