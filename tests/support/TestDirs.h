#pragma once
// Temporary folders for tests: created empty, removed with everything in them when the object
// goes out of scope.

#include <filesystem>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

class TempDir {
public:
    // A fresh folder under $TMPDIR (else /tmp) whose name starts with the prefix.
    explicit TempDir(std::string_view prefix = "vellumo-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& Path() const { return m_path; }
    fs::path operator/(const fs::path& child) const { return m_path / child; }

private:
    fs::path m_path;
};

// Writes bytes to a file, creating its parent folders. False on failure.
bool WriteTestFile(const fs::path& file, std::string_view bytes);
// The whole content of a file, "" when it cannot be read.
std::string ReadTestFile(const fs::path& file);
// Number of regular files below a folder (recursive); 0 when it does not exist.
size_t CountFiles(const fs::path& folder);
