#pragma once
// Starting other programs (the updater, the browser through xdg-open) without a shell: an
// argument vector, every descriptor above 2 closed, standard input from /dev/null, a session of
// their own, an empty signal mask and default signal handling.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Starts program (a path; with searchPath a bare name is looked up in $PATH) with args as
// argv[1..], the current environment plus the NAME=value texts in extraEnvironment (which
// replace variables of the same name). The process id, or -1 when it could not be started.
// A thread of the caller's reaps the child when it ends.
pid_t SpawnDetached(const fs::path& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& extraEnvironment = {}, bool searchPath = false);

// A web address that may be handed to the desktop's opener: "http://" or "https://"
// (case-insensitive) followed by a host, with no blanks or control characters anywhere.
bool IsSafeWebAddress(const std::string& address);
// Opens a safe web address with xdg-open; false (nothing started) for any other address.
bool OpenWebAddress(const std::string& address);
