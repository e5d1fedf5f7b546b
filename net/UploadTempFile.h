#pragma once
// The temporary file of one received photo. Every upload gets a fresh sub-folder of the
// temporary folder, so two uploads that ask for the same name never share a file, and the
// library still sees the name the phone gave (it keeps the file under that name).

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

// <temporary folder>/VellumoTemp
fs::path UploadTempRoot();

// The requested name without '/', '\', "..", NUL and control characters, as valid UTF-8 and
// cut to a length the file system accepts (keeping a short extension). "" when nothing usable
// is left.
std::string SafeUploadName(std::string_view requested);
// A fresh "%lld.jpg" name.
std::string FallbackUploadName();
// True for the names UploadTempFile gives its sub-folders.
bool IsUploadFolderName(std::string_view name);

class UploadTempFile {
public:
    // Creates root (when missing) and a new empty sub-folder of it for the file `name`, which
    // must be a single path component. Ok() tells whether that worked.
    UploadTempFile(const fs::path& root, const std::string& name);
    // Removes the sub-folder with everything in it unless Release was called.
    ~UploadTempFile();
    UploadTempFile(const UploadTempFile&) = delete;
    UploadTempFile& operator=(const UploadTempFile&) = delete;

    bool Ok() const { return !m_folder.empty(); }
    const fs::path& Folder() const { return m_folder; }
    const fs::path& File() const { return m_file; }

    // Writes all bytes; false when the file cannot be created or written completely.
    bool Write(std::string_view bytes);
    // Sets the file's modification and access times to the given seconds since 1970 (UTC).
    bool SetTimes(int64_t seconds);
    // From now on the sub-folder is someone else's to remove.
    void Release() { m_released = true; }

private:
    fs::path m_folder;
    fs::path m_file;
    bool m_released = false;
};
