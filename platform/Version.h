#pragma once
// The version of Vellumo and Fernlift: shown by --version, sent with the update check, passed
// to the updater and put into the pairing payload. The only place it is written.

inline constexpr const char kVellumoVersion[] = "1.2";
