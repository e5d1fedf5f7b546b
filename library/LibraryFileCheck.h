#pragma once
// Looks at a library file before it is opened for writing, so that a file Vellumo cannot use
// (damaged, not a database, another program's database) is refused and never modified, and an
// old library is copied aside before its tables change.

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct LibraryFileReport {
    enum class State {
        Missing,    // no file: a new library is made
        Empty,      // a database without tables (or a file of 0 bytes)
        Library,    // a library, maybe of an older layout
        NotLibrary, // refused: `reason` says why
    };
    State state = State::Missing;
    std::string reason;
    std::set<std::string> tables;
    bool hasRows = false; // any of its tables holds a row
};

// Reads the file without changing it (no recovery of another program's journal, no checkpoint
// on close). fullCheck also runs SQLite's quick check over every page.
LibraryFileReport InspectLibraryFile(const fs::path& file, bool fullCheck);
// Copies the database (with what its write-ahead log holds) to a new file beside it named
// "<name>.backup-<date>-<time>[-n]". The copy's path, or empty on failure.
fs::path BackupLibraryFile(const fs::path& file);
// SQLite's integrity check of the file, read only: the problems it reports (empty when sound),
// or one line saying why the file could not be checked.
std::vector<std::string> LibraryIntegrityProblems(const fs::path& file);
