#pragma once
// Reads "upgrade.cfg" from an unpacked package and turns it into a checked plan: what to
// remove from the installation, which package files to copy where, and what to start at the
// end. Nothing is changed here; a plan only exists when every path in the script is safe.

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct UpgradePlan {
    struct Copy {
        std::string source;      // relative to the package root
        std::string destination; // relative to the installation root
    };
    fs::path packageRoot;
    fs::path installRoot;
    std::vector<std::string> removes; // relative to the installation root, in script order
    std::vector<Copy> copies;         // in ascending byte order of the script's names
    fs::path lastRun;                 // inside the installation root, or empty
    size_t skippedCommands = 0;       // "precmd" and "postcmd" elements, never carried out
};

enum class ScriptResult {
    Ok,
    Unreadable, // no script, or not a JSON object
    Unsafe,     // a path leaves its root, a source is missing, a member has the wrong type
};

// The main program's installed file name stands in for "Vellumo.exe" in "files" and
// "lastrun". installRoot must be an absolute, normalized path.
ScriptResult LoadUpgradePlan(const fs::path& unpackFolder, const fs::path& installRoot,
                             const std::string& mainFileName, UpgradePlan& plan,
                             std::string& error);

// Parses the script text alone against the roots (used by the loader; the paths are checked
// against the file system only when checkFiles is true).
ScriptResult ParseUpgradeScript(const std::string& text, const fs::path& packageRoot,
                                const fs::path& installRoot, const std::string& mainFileName,
                                bool checkFiles, UpgradePlan& plan, std::string& error);
