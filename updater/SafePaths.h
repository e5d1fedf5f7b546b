#pragma once
// Rules for names that come from an update package (zip entry names, script paths) and the
// descriptor-relative file operations that never follow a symbolic link.

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "updater/UniqueFd.h"

// The longest name accepted, in bytes (a zip name buffer of 1024 with its terminator).
inline constexpr size_t kMaxPackageNameBytes = 1023;
// Names Fernlift keeps for itself inside an installation: a package may not touch them.
inline constexpr char kBackupFolderName[] = ".fernlift-backup";
inline constexpr char kTempSuffix[] = ".fernlift-new";

bool IsValidUtf8(std::string_view text);

// Turns a name from a package into a clean relative path with '/' between components.
// Backslashes count as separators. Refused (false): empty results, NUL or other control
// characters, invalid UTF-8, more than kMaxPackageNameBytes bytes, absolute paths, drive
// letters, "." or ".." components, components over 255 bytes, and names reserved by Fernlift.
// Leading and trailing blanks of the whole name are dropped first; empty components ("a//b")
// collapse. A trailing separator is reported through isFolder when given.
bool NormalizePackageName(std::string_view raw, std::string& out, bool* isFolder = nullptr);

// Splits a normalized relative path into its components.
std::vector<std::string> SplitComponents(const std::string& relative);

// Opens (and with create, makes) the folder at relative below the folder rootFd, one component
// at a time without following links. Invalid fd on failure.
UniqueFd OpenFolderBelow(int rootFd, const std::vector<std::string>& components, bool create,
                         mode_t mode = 0755);

// What a relative path below a root is, looked at without following links.
enum class EntryKind { Missing, File, Folder, Link, Other, Unreachable };
// Unreachable: a component on the way is a link, not a folder, or cannot be read.
EntryKind InspectBelow(int rootFd, const std::string& relative);
