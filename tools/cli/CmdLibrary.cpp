// vellumo-cli import / check: offline work on a library under a storage root.
//   import --root DIR FILE...   adds files as photos of the PC itself ("localhost")
//   check --root DIR            verifies the library file against the repository

#include "library/CHDBCenter.h"
#include "library/LibraryFileCheck.h"
#include "tools/cli/CliCommand.h"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

namespace {

// Splits "--root DIR" off the arguments; the rest are returned in order.
bool ParseRoot(const std::vector<std::string>& args, fs::path& root,
               std::vector<std::string>& rest) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--root" && i + 1 < args.size()) {
            root = args[++i];
        } else if (args[i].rfind("--root=", 0) == 0) {
            root = args[i].substr(7);
        } else {
            rest.push_back(args[i]);
        }
    }
    return !root.empty();
}

int RunImport(const std::vector<std::string>& args) {
    fs::path root;
    std::vector<std::string> files;
    if (!ParseRoot(args, root, files) || files.empty()) {
        std::fprintf(stderr, "usage: vellumo-cli import --root DIR FILE...\n");
        return 2;
    }
    std::error_code ec;
    fs::create_directories(root / CHDBCenter::kReposFolderName, ec);
    fs::create_directories(root / CHDBCenter::kThumbFolderName, ec);
    CHDBCenter db;
    db.SetServicePort(-1);
    if (db.OpenLibrary(root) == 0 || !db.IsOpen()) {
        std::fprintf(stderr, "vellumo-cli import: cannot open the library under '%s'\n",
                     root.c_str());
        return 1;
    }
    int status = 0;
    for (const std::string& file : files) {
        Pid pid = db.AddImage(file, "", CHDBCenter::kLocalKey);
        std::printf("%" PRId64 " %s\n", pid, file.c_str());
        if (pid == 0) {
            std::fprintf(stderr,
                         "vellumo-cli import: not imported (unreadable or not an image): %s\n",
                         file.c_str());
            status = 1;
        }
    }
    std::fflush(stdout);
    return status;
}

int RunCheck(const std::vector<std::string>& args) {
    fs::path root;
    std::vector<std::string> rest;
    if (!ParseRoot(args, root, rest) || !rest.empty()) {
        std::fprintf(stderr, "usage: vellumo-cli check --root DIR\n");
        return 2;
    }
    std::error_code ec;
    if (!fs::is_regular_file(root / CHDBCenter::kLibraryFileName, ec)) {
        std::fprintf(stderr, "vellumo-cli check: no library file in '%s'\n", root.c_str());
        return 1;
    }
    // SQLite's own check first, read only: a damaged file is reported, never opened for
    // writing.
    const std::vector<std::string> damage =
        LibraryIntegrityProblems(root / CHDBCenter::kLibraryFileName);
    if (!damage.empty()) {
        for (const std::string& problem : damage) {
            std::printf("library file: %s\n", problem.c_str());
        }
        std::printf("the library file is damaged, %zu problems\n", damage.size());
        std::fflush(stdout);
        return 1;
    }
    CHDBCenter db;
    db.SetServicePort(-1);
    if (db.OpenLibrary(root) == 0 || !db.IsOpen()) {
        std::fprintf(stderr, "vellumo-cli check: cannot open the library under '%s': %s\n",
                     root.c_str(), db.LastOpenError().c_str());
        return 1;
    }
    const std::vector<std::string> problems = db.CheckLibrary();
    for (const std::string& problem : problems) {
        std::printf("%s\n", problem.c_str());
    }
    int count = 0;
    int64_t bytes = 0;
    db.GetStatistics(count, bytes, nullptr);
    std::printf("%d images, %zu problems\n", count, problems.size());
    std::fflush(stdout);
    return problems.empty() ? 0 : 1;
}

const CliRegistration kImport{"import",
                              "import --root DIR FILE...  add photos to the library under DIR "
                              "(as the PC's own); prints each pid",
                              &RunImport};
const CliRegistration kCheck{
    "check", "check --root DIR     verify the library under DIR; lists problems", &RunCheck};

} // namespace
