#pragma once
// Which installations Fernlift may update, and the resources one run holds: its private
// temporary folder and the lock that keeps a second Fernlift from running at the same time.

#include <filesystem>
#include <string>

#include "updater/UniqueFd.h"

namespace fs = std::filesystem;

// True for folders shared by the whole system (/usr/bin and the like), which only the
// package manager changes.
bool IsSharedSystemFolder(const fs::path& folder);
// True when `dpkg -S` says the package manager owns the file.
bool IsOwnedByPackageManager(const fs::path& file);
// Why Fernlift must leave this installation alone; empty when it may update it.
std::string RefuseInstallReason(const fs::path& program);

// A folder made by mkdtemp (mode 0700) below the system temporary path, removed with
// everything in it when the object ends.
class PrivateTempDir {
public:
    PrivateTempDir();
    ~PrivateTempDir();
    PrivateTempDir(const PrivateTempDir&) = delete;
    PrivateTempDir& operator=(const PrivateTempDir&) = delete;
    bool Valid() const { return !m_path.empty(); }
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

// Held by the one Fernlift that runs; a second one fails to take it.
class CHRunLock {
public:
    // The lock file lives in the user's runtime folder.
    bool Acquire();
    bool Acquire(const fs::path& lockFile);

private:
    UniqueFd m_fd;
};
