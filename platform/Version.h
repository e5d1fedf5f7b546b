#pragma once
// The version of Vellumo and Fernlift: shown by --version, sent with the update check, passed
// to the updater, put into the pairing payload and the HTTP "Server" header. The only place it
// is written.

#define VELLUMO_VERSION_TEXT "1.2"

inline constexpr const char kVellumoVersion[] = VELLUMO_VERSION_TEXT;
// The service's "Server" header value.
inline constexpr const char kVellumoServerName[] = "Vellumo/" VELLUMO_VERSION_TEXT;
