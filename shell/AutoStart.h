#pragma once
// Start with the system: an XDG autostart entry ~/.config/autostart/VellumoStarup.desktop
// whose Exec is the quoted program path followed by --silence.

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

inline constexpr const char* kAutoStartName = "VellumoStarup";

// $XDG_CONFIG_HOME/autostart/VellumoStarup.desktop; empty when no folder is known.
fs::path AutoStartEntryPath();
// The Exec value: the program path quoted and escaped by the desktop-entry rules, a blank and
// "--silence". Empty when the path cannot be written in an entry (control characters).
std::string AutoStartExecValue(const fs::path& program);
// The whole desktop entry; empty when the program path cannot be written in one.
std::string BuildAutoStartEntry(const fs::path& program);
// Writes (on) or removes (off) the entry for program. True when the entry is then as asked.
bool SetAutoStartEntry(bool on, const fs::path& program);
